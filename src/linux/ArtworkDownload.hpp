#pragma once

#include <gio/gio.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace wheelbox {

struct ArtworkDownloadSettings {
    std::size_t largest = 8 * 1024 * 1024;
    // The whole download, every redirect included.
    std::chrono::milliseconds timeout{10'000};
    int redirects = 4;
    // Certificates trusted instead of the system's (a PEM file); for tests.
    std::optional<std::filesystem::path> trustedCertificates = std::nullopt;
};

// The address could not be asked this time (no network, no answer in time, a server error, a
// cancellation): nothing is known about its picture.
class ArtworkDownloadError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The bytes at an https: address, fetched with libsoup on a private main context of the calling
// thread. Nothing (the address has no picture to give) for any other scheme, a certificate that
// does not check out, a redirect to anything but https: (no downgrade) or past the redirect limit,
// a refusal (4xx), or more than `largest` bytes. Throws ArtworkDownloadError when the answer could
// not be had: the connection failed, the server failed (5xx, or asked to come back later), or the
// answer was not complete within the timeout. `cancel`, when given, ends it early from any thread,
// as a failure.
std::optional<std::vector<std::byte>> downloadArtwork(const std::string &address,
                                                      const ArtworkDownloadSettings &settings,
                                                      GCancellable *cancel = nullptr);

} // namespace wheelbox
