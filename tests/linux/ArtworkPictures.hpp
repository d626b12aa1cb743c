#pragma once

#include "lib/glib/GLibPointers.hpp"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Pictures made in the test, never fetched: GdkPixbuf draws and encodes them.
namespace wheelbox::test {

inline std::vector<std::byte> bytesOf(const std::string &text)
{
    const auto *data = reinterpret_cast<const std::byte *>(text.data());
    return {data, data + text.size()};
}

// A picture of `width` x `height` in a colour that changes across it, encoded as `type` ("png",
// "jpeg", "bmp"); with alpha, its left half is see-through.
inline std::vector<std::byte> makePicture(int width, int height, const char *type, bool alpha = false)
{
    glib::ObjectPtr<GdkPixbuf> pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, width, height));
    const int channels = gdk_pixbuf_get_n_channels(pixbuf.get());
    const int stride = gdk_pixbuf_get_rowstride(pixbuf.get());
    guchar *pixels = gdk_pixbuf_get_pixels(pixbuf.get());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            guchar *pixel = pixels + y * stride + x * channels;
            pixel[0] = static_cast<guchar>(x * 255 / width);
            pixel[1] = static_cast<guchar>(y * 255 / height);
            pixel[2] = 128;
            if (alpha)
                pixel[3] = x < width / 2 ? 0 : 255;
        }
    }
    gchar *buffer = nullptr;
    gsize size = 0;
    gdk_pixbuf_save_to_buffer(pixbuf.get(), &buffer, &size, type, nullptr, nullptr);
    glib::CharPtr owned(buffer);
    const auto *data = reinterpret_cast<const std::byte *>(buffer);
    return {data, data + size};
}

// The width and height of an encoded picture.
inline std::pair<int, int> pictureSize(const std::vector<std::byte> &data)
{
    glib::ObjectPtr<GdkPixbufLoader> loader(gdk_pixbuf_loader_new());
    gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar *>(data.data()), data.size(),
                            nullptr);
    gdk_pixbuf_loader_close(loader.get(), nullptr);
    GdkPixbuf *pixbuf = gdk_pixbuf_loader_get_pixbuf(loader.get());
    if (!pixbuf)
        return {0, 0};
    return {gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf)};
}

} // namespace wheelbox::test
