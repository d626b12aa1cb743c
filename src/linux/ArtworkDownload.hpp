#pragma once

#include <gio/gio.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
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

// The bytes at an https: address, fetched with libsoup on a private main context of the calling
// thread. Nothing for any other scheme, a certificate that does not check out, a redirect to
// anything but https: (no downgrade) or past the redirect limit, an answer other than 200, more
// than `largest` bytes, or an answer not complete within the timeout. `cancel`, when given, ends
// it early from any thread.
std::optional<std::vector<std::byte>> downloadArtwork(const std::string &address,
                                                      const ArtworkDownloadSettings &settings,
                                                      GCancellable *cancel = nullptr);

} // namespace wheelbox
