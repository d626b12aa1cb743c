#include "platform/Artwork.hpp"

#include <gtest/gtest.h>

namespace wheelbox {
namespace {

TEST(ArtworkName, WritesAndReadsOnlyTheExactForm)
{
    for (auto size : {ArtworkSize::cover, ArtworkSize::row}) {
        for (std::uint64_t key : {0ull, 0x00FF12AB34CD56EFull, ~0ull}) {
            const ArtworkName name{key, size};
            EXPECT_EQ(parseArtworkName(formatArtworkName(name)), name) << formatArtworkName(name);
        }
    }
    EXPECT_EQ(formatArtworkName({0x00FF12AB34CD56EF, ArtworkSize::cover}), "00FF12AB34CD56EF-168");
    EXPECT_EQ(artworkAddress({0x00FF12AB34CD56EF, ArtworkSize::row}),
              "velto://app/artwork/00FF12AB34CD56EF-64");

    const std::string nul("00FF12AB34CD56EF-168\0", 21);
    for (std::string text :
         {"", "-", "00FF12AB34CD56EF", "00FF12AB34CD56EF-", "00FF12AB34CD56EF-100", "00ff12ab34cd56ef-168",
          "00FF12AB34CD56E-168", "000FF12AB34CD56EF-168", "00FF12AB34CD56EF_168", "00FF12AB34CD56EF-168 ",
          " 00FF12AB34CD56EF-168", "00FF12AB34CD56EF-+64", "00FF12AB34CD56EF-064", "../00FF12AB34CD56EF-168",
          "00FF12AB34CD56EF-168/..", "%2e%2e", "..", "00FF12AB34CD56EF-168.jpg"})
        EXPECT_EQ(parseArtworkName(text), std::nullopt) << text;
    EXPECT_EQ(parseArtworkName(nul), std::nullopt);
    EXPECT_EQ(parseArtworkName(std::string(10'000, 'A')), std::nullopt);
}

} // namespace
} // namespace wheelbox
