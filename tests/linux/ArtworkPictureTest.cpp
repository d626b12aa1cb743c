#include "linux/ArtworkPicture.hpp"

#include "linux/ArtworkPictures.hpp"

#include <gtest/gtest.h>

#include <array>

namespace wheelbox {
namespace {

using test::bytesOf;
using test::makePicture;
using test::pictureSize;

std::uint32_t crc32(const std::string &bytes)
{
    std::uint32_t crc = 0xFFFFFFFF;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

std::string bigEndian(std::uint32_t value)
{
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
            static_cast<char>(value)};
}

// A PNG whose header claims a size of its own; the pixel data that follows is a few bytes of junk.
std::vector<std::byte> pngClaiming(std::uint32_t width, std::uint32_t height)
{
    auto chunk = [](const std::string &type, const std::string &data) {
        return bigEndian(static_cast<std::uint32_t>(data.size())) + type + data +
               bigEndian(crc32(type + data));
    };
    std::string header = bigEndian(width) + bigEndian(height) + std::string("\x08\x02\x00\x00\x00", 5);
    return bytesOf(std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", "junk") +
                   chunk("IEND", ""));
}

// A GIF of the given canvas and frames (left, top, width, height), each frame's pixels one code
// long: enough for the loader to begin each frame.
std::vector<std::byte> gifOf(unsigned width, unsigned height,
                             const std::vector<std::array<unsigned, 4>> &frames)
{
    auto word = [](unsigned value) {
        return std::string{static_cast<char>(value & 0xff), static_cast<char>(value >> 8)};
    };
    // A colour table of two entries, white and black.
    std::string gif =
        "GIF89a" + word(width) + word(height) + std::string("\x80\x00\x00\xff\xff\xff\x00\x00\x00", 9);
    for (const auto &[left, top, frameWidth, frameHeight] : frames)
        gif += "," + word(left) + word(top) + word(frameWidth) + word(frameHeight) +
               std::string("\x00\x02\x02\x44\x01\x00", 6);
    return bytesOf(gif + ";");
}

TEST(ArtworkPicture, EachSizeFillsItsSquareFromTheShorterSideAndIsNeverEnlarged)
{
    struct Case {
        const char *name;
        std::vector<std::byte> data;
        std::pair<int, int> cover, row;
        const char *mimeType;
    } cases[] = {
        {"a large JPEG", makePicture(1200, 900, "jpeg"), {224, 168}, {85, 64}, "image/jpeg"},
        {"a tall PNG", makePicture(300, 600, "png"), {168, 336}, {64, 128}, "image/jpeg"},
        {"a small one stays small", makePicture(40, 40, "png"), {40, 40}, {40, 40}, "image/jpeg"},
        {"between the sizes", makePicture(100, 100, "bmp"), {100, 100}, {64, 64}, "image/jpeg"},
        {"see-through parts stay PNG", makePicture(400, 400, "png", true), {168, 168}, {64, 64}, "image/png"},
        {"a GIF", gifOf(1, 1, {{0, 0, 1, 1}}), {1, 1}, {1, 1}, "image/jpeg"},
    };
    for (auto &c : cases) {
        auto scaled = scaleArtwork(c.data);
        ASSERT_EQ(scaled.size(), 2u) << c.name;
        EXPECT_EQ(scaled[0].size, ArtworkSize::cover) << c.name;
        EXPECT_EQ(scaled[1].size, ArtworkSize::row) << c.name;
        EXPECT_EQ(pictureSize(scaled[0].data), c.cover) << c.name;
        EXPECT_EQ(pictureSize(scaled[1].data), c.row) << c.name;
        for (const auto &picture : scaled)
            EXPECT_EQ(pictureFormat(picture.data)->mimeType, c.mimeType) << c.name;
    }
}

TEST(ArtworkPicture, AnythingButAPictureOfAKnownFormatWithinTheLimitsIsRefused)
{
    auto png = makePicture(64, 64, "png");
    // Cut inside its header; one cut among its pixels decodes as far as it goes, as browsers show it.
    auto truncated = std::vector<std::byte>(png.begin(), png.begin() + 30);
    struct Case {
        const char *name;
        std::vector<std::byte> data;
    } cases[] = {
        {"empty", {}},
        {"text", bytesOf("not a picture at all\n")},
        {"an SVG, whose loader reads what it references",
         bytesOf("<svg xmlns='http://www.w3.org/2000/svg'/>")},
        {"TIFF", makePicture(32, 32, "tiff")},
        {"a PNG cut short", truncated},
        {"a JPEG signature and nothing else", bytesOf("\xff\xd8\xff")},
        {"a PNG claiming 40000 x 40000 pixels", pngClaiming(40000, 40000)},
        {"a PNG claiming 16385 x 1 pixels", pngClaiming(16385, 1)},
        {"a PNG claiming 0 x 0 pixels", pngClaiming(0, 0)},
        {"a GIF whose frame claims far more than its canvas", gifOf(1, 1, {{0, 0, 20000, 20000}})},
    };
    for (auto &c : cases)
        EXPECT_THROW(scaleArtwork(c.data), ArtworkPictureError) << c.name;

    ArtworkPictureLimits small{.largestFile = png.size() - 1};
    EXPECT_THROW(scaleArtwork(png, small), ArtworkPictureError) << "a file over the limit";

    // Every frame of a GIF is decoded: together they must fit.
    const ArtworkPictureLimits hundredPixels{.largestArea = 100};
    EXPECT_NO_THROW(scaleArtwork(gifOf(10, 10, {{0, 0, 10, 10}}), hundredPixels));
    EXPECT_THROW(scaleArtwork(gifOf(10, 10, {{0, 0, 10, 10}, {0, 0, 10, 10}}), hundredPixels),
                 ArtworkPictureError);
}

TEST(ArtworkPicture, FormatsAreToldByTheirFirstBytes)
{
    EXPECT_EQ(pictureFormat(makePicture(8, 8, "png"))->mimeType, "image/png");
    EXPECT_EQ(pictureFormat(makePicture(8, 8, "jpeg"))->mimeType, "image/jpeg");
    EXPECT_EQ(pictureFormat(makePicture(8, 8, "bmp"))->mimeType, "image/bmp");
    EXPECT_EQ(pictureFormat(bytesOf("GIF89a......"))->loader, "gif");
    for (const char *other : {"", "PNG", "<svg", "BM", "RIFF....WEBX", "II*\x00"})
        EXPECT_FALSE(pictureFormat(bytesOf(other))) << other;
}

} // namespace
} // namespace wheelbox
