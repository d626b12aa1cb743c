#include "linux/ArtworkPicture.hpp"

#include "lib/glib/GLibPointers.hpp"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

namespace wheelbox {
namespace {

bool startsWith(std::span<const std::byte> data, std::string_view magic, std::size_t at = 0) noexcept
{
    return data.size() >= at + magic.size() && std::memcmp(data.data() + at, magic.data(), magic.size()) == 0;
}

bool hasLoader(std::string_view name)
{
    static const std::vector<std::string> loaders = [] {
        std::vector<std::string> names;
        GSList *formats = gdk_pixbuf_get_formats();
        for (GSList *item = formats; item; item = item->next) {
            glib::CharPtr formatName(gdk_pixbuf_format_get_name(static_cast<GdkPixbufFormat *>(item->data)));
            if (formatName)
                names.emplace_back(formatName.get());
        }
        g_slist_free(formats);
        return names;
    }();
    return std::find(loaders.begin(), loaders.end(), name) != loaders.end();
}

// Every size, largest first.
constexpr ArtworkSize sizes[] = {ArtworkSize::cover, ArtworkSize::row};

// The width and height that give the shorter side `side` pixels, unless the picture is smaller.
std::pair<int, int> fitted(int width, int height, int side)
{
    const int shorter = std::min(width, height);
    if (shorter <= side)
        return {width, height};
    const double scale = static_cast<double>(side) / shorter;
    return {std::max(1, static_cast<int>(width * scale + 0.5)),
            std::max(1, static_cast<int>(height * scale + 0.5))};
}

struct Decoding {
    const ArtworkPictureLimits *limits;
    bool refused = false;
};

void sizePrepared(GdkPixbufLoader *loader, int width, int height, gpointer data)
{
    auto &decoding = *static_cast<Decoding *>(data);
    const auto &limits = *decoding.limits;
    if (width <= 0 || height <= 0 || width > limits.largestSide || height > limits.largestSide ||
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > limits.largestArea) {
        decoding.refused = true;
        // A loader told zero pixels stops before it allocates any.
        gdk_pixbuf_loader_set_size(loader, 0, 0);
        return;
    }
    // JPEG decodes straight at a fraction of its size: far less work than decoding and scaling.
    auto [scaledWidth, scaledHeight] = fitted(width, height, static_cast<int>(sizes[0]));
    if (scaledWidth != width || scaledHeight != height)
        gdk_pixbuf_loader_set_size(loader, scaledWidth, scaledHeight);
}

// A GIF's loader checks only the canvas's size, yet allocates each frame at the frame's own: a
// small file whose frame claims far more than its canvas would take hundreds of megabytes. The
// frames together must fit the largest area (a frame past the canvas's edge is clipped, as
// browsers show it). What cannot be walked is left to the loader, which stops where the file does.
void checkGifFrames(std::span<const std::byte> data, const ArtworkPictureLimits &limits)
{
    std::size_t at = 6; // past "GIF89a"
    auto byte = [&](std::size_t offset) {
        return std::to_integer<unsigned>(data[offset]);
    };
    auto word = [&](std::size_t offset) {
        return byte(offset) | byte(offset + 1) << 8;
    };
    auto has = [&](std::size_t bytes) {
        return at + bytes <= data.size();
    };
    auto colourTable = [](unsigned packed) {
        return packed & 0x80 ? 3u << ((packed & 7) + 1) : 0u;
    };
    // Data sub-blocks, each led by its length, up to an empty one.
    auto skipBlocks = [&] {
        while (has(1) && byte(at) != 0)
            at += 1 + byte(at);
        at += 1;
    };
    if (!has(7))
        return;
    at += 7 + colourTable(byte(at + 4));
    std::uint64_t area = 0;
    while (has(1)) {
        const unsigned block = byte(at);
        if (block == 0x21) { // an extension: its label, then its blocks
            at += 2;
            skipBlocks();
        } else if (block == 0x2c) { // a frame
            if (!has(10))
                return;
            area += static_cast<std::uint64_t>(word(at + 5)) * word(at + 7);
            if (area > limits.largestArea)
                throw ArtworkPictureError("The picture is larger than a cover may be.");
            at += 10 + colourTable(byte(at + 9)) + 1; // and the LZW code size
            skipBlocks();
        } else {
            return; // the trailer, or what the loader will refuse
        }
    }
}

glib::ObjectPtr<GdkPixbuf> decode(std::span<const std::byte> data, const PictureFormat &format,
                                  const ArtworkPictureLimits &limits)
{
    GError *error = nullptr;
    glib::ObjectPtr<GdkPixbufLoader> loader(
        gdk_pixbuf_loader_new_with_type(std::string(format.loader).c_str(), &error));
    if (!loader) {
        glib::ErrorPtr owned(error);
        throw ArtworkPictureError("No loader for " + std::string(format.mimeType) + ".");
    }
    Decoding decoding{&limits};
    g_signal_connect(loader.get(), "size-prepared", G_CALLBACK(sizePrepared), &decoding);
    const bool written = gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar *>(data.data()),
                                                 data.size(), &error);
    // Closed in every case: a loader left open complains when it goes.
    GError *closeError = nullptr;
    const bool closed = gdk_pixbuf_loader_close(loader.get(), written ? &closeError : nullptr);
    glib::ErrorPtr writeFailure(error), closeFailure(closeError);
    if (decoding.refused)
        throw ArtworkPictureError("The picture is larger than a cover may be.");
    GdkPixbuf *pixbuf = gdk_pixbuf_loader_get_pixbuf(loader.get());
    if (!written || !closed || !pixbuf)
        throw ArtworkPictureError("The picture does not decode.");
    return glib::ObjectPtr<GdkPixbuf>(GDK_PIXBUF(g_object_ref(pixbuf)));
}

bool isOpaque(GdkPixbuf *pixbuf)
{
    if (!gdk_pixbuf_get_has_alpha(pixbuf))
        return true;
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const guchar *pixels = gdk_pixbuf_read_pixels(pixbuf);
    for (int y = 0; y < height; ++y) {
        const guchar *row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            if (row[x * channels + 3] != 255)
                return false;
        }
    }
    return true;
}

// The same pixels without the alpha channel, for JPEG.
glib::ObjectPtr<GdkPixbuf> withoutAlpha(GdkPixbuf *pixbuf)
{
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    glib::ObjectPtr<GdkPixbuf> opaque(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height));
    if (!opaque)
        throw ArtworkPictureError("Out of memory for a cover.");
    const int fromStride = gdk_pixbuf_get_rowstride(pixbuf);
    const int toStride = gdk_pixbuf_get_rowstride(opaque.get());
    const guchar *from = gdk_pixbuf_read_pixels(pixbuf);
    guchar *to = gdk_pixbuf_get_pixels(opaque.get());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            std::memcpy(to + y * toStride + x * 3, from + y * fromStride + x * 4, 3);
    }
    return opaque;
}

std::vector<std::byte> encode(GdkPixbuf *pixbuf, bool opaque)
{
    gchar *buffer = nullptr;
    gsize length = 0;
    GError *error = nullptr;
    const bool saved =
        opaque ? gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &length, "jpeg", &error, "quality", "90", nullptr)
               : gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &length, "png", &error, nullptr);
    glib::ErrorPtr failure(error);
    glib::CharPtr owned(buffer);
    if (!saved)
        throw ArtworkPictureError("The cover could not be encoded.");
    const auto *bytes = reinterpret_cast<const std::byte *>(owned.get());
    return std::vector<std::byte>(bytes, bytes + length);
}

} // namespace

std::optional<PictureFormat> pictureFormat(std::span<const std::byte> data) noexcept
{
    if (startsWith(data, "\x89PNG\r\n\x1a\n"))
        return PictureFormat{"png", "image/png"};
    if (startsWith(data, "\xff\xd8\xff"))
        return PictureFormat{"jpeg", "image/jpeg"};
    if (startsWith(data, "GIF87a") || startsWith(data, "GIF89a"))
        return PictureFormat{"gif", "image/gif"};
    if (startsWith(data, "BM") && data.size() >= 26)
        return PictureFormat{"bmp", "image/bmp"};
    if (startsWith(data, "RIFF") && startsWith(data, "WEBP", 8)) {
        try {
            if (hasLoader("webp"))
                return PictureFormat{"webp", "image/webp"};
        } catch (...) {
        }
    }
    return std::nullopt;
}

std::vector<ScaledArtwork> scaleArtwork(std::span<const std::byte> data, const ArtworkPictureLimits &limits)
{
    if (data.size() > limits.largestFile)
        throw ArtworkPictureError("The picture is larger than a cover may be.");
    auto format = pictureFormat(data);
    if (!format)
        throw ArtworkPictureError("Not a picture in a format covers are read in.");
    if (format->loader == "gif")
        checkGifFrames(data, limits);
    auto decoded = decode(data, *format, limits);
    const bool opaque = isOpaque(decoded.get());
    if (opaque && gdk_pixbuf_get_has_alpha(decoded.get()))
        decoded = withoutAlpha(decoded.get());

    std::vector<ScaledArtwork> result;
    for (auto size : sizes) {
        const int width = gdk_pixbuf_get_width(decoded.get());
        const int height = gdk_pixbuf_get_height(decoded.get());
        auto [scaledWidth, scaledHeight] = fitted(width, height, static_cast<int>(size));
        glib::ObjectPtr<GdkPixbuf> scaled(
            scaledWidth == width && scaledHeight == height
                ? GDK_PIXBUF(g_object_ref(decoded.get()))
                : gdk_pixbuf_scale_simple(decoded.get(), scaledWidth, scaledHeight, GDK_INTERP_HYPER));
        if (!scaled)
            throw ArtworkPictureError("Out of memory for a cover.");
        result.push_back({size, encode(scaled.get(), opaque)});
    }
    return result;
}

} // namespace wheelbox
