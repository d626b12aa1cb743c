#pragma once

#include "platform/Artwork.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

// A cover's picture, decoded once with GdkPixbuf and kept at the sizes the device draws it.
namespace wheelbox {

// The formats a cover is read in, told by their first bytes, never by a name or a type someone
// claims: PNG, JPEG, GIF, BMP, and WebP where GdkPixbuf has a loader for it. Their loaders are the
// ones every desktop opens files with; the rest (SVG with its references, TIFF, icons) stay shut.
struct PictureFormat {
    std::string_view loader;   // GdkPixbuf's name for it
    std::string_view mimeType; // as served
};
std::optional<PictureFormat> pictureFormat(std::span<const std::byte> data) noexcept;

class ArtworkPictureError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct ArtworkPictureLimits {
    std::size_t largestFile = 32 * 1024 * 1024;
    // A picture claiming more is refused before a pixel is decoded.
    int largestSide = 16384;
    std::uint64_t largestArea = 64ull * 1024 * 1024;
};

// One size of a cover, encoded: JPEG, or PNG when the picture has transparent parts.
struct ScaledArtwork {
    ArtworkSize size = ArtworkSize::cover;
    std::vector<std::byte> data;
};

// The picture in `data` at every ArtworkSize: scaled so that its shorter side fills the size's
// square (the page crops it), never enlarged. Throws ArtworkPictureError for anything that is not
// a picture of a format above, is over the limits, or does not decode.
std::vector<ScaledArtwork> scaleArtwork(std::span<const std::byte> data,
                                        const ArtworkPictureLimits &limits = {});

} // namespace wheelbox
