#include "lib/mpd/MpdIdentity.hpp"

#include <gtest/gtest.h>

#include <cstdint>

namespace wheelbox::mpd {
namespace {

// Values worked out apart from this code (the FNV reference vectors, and a short script), so a
// change to the hash or to what it hashes shows here before any stored identifier changes.
TEST(MpdIdentityTest, IdentifiersAreFnv1a64OfTheirText)
{
    struct Case {
        std::uint64_t id;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {fnv1a64(""), 0xCBF29CE484222325},
        {fnv1a64("a"), 0xAF63DC4C8601EC8C},
        {fnv1a64("foobar"), 0x85944171F73967E8},
        {songPersistentID("Artist/Album/01 Song.flac"), 0x556E84ACFA3E055F},
        {playlistPersistentID("Road Trip"), 0xD98007295C68B82C},
        {albumPersistentID("Title", "X", "Ignored Artist", "any/uri.flac"), 0x1E1E4AB2080FB7EB},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].id, cases[i].expected) << i;
}

TEST(MpdIdentityTest, AlbumsKeepApartWhatDiffersAndTogetherWhatDoesNot)
{
    // The best discriminator wins: the MusicBrainz ID, else the album artist, else the folder.
    EXPECT_EQ(albumPersistentID("T", "mb", "A", "x/1.flac"), albumPersistentID("T", "mb", "B", "y/2.flac"));
    EXPECT_EQ(albumPersistentID("T", "", "A", "x/1.flac"), albumPersistentID("T", "", "A", "y/2.flac"));
    EXPECT_NE(albumPersistentID("T", "", "A", "x/1.flac"), albumPersistentID("T", "", "B", "x/1.flac"));
    EXPECT_EQ(albumPersistentID("T", "", "", "Mix/CD 1/1.flac"),
              albumPersistentID("T", "", "", "Mix/CD 2/1.flac"));
    EXPECT_NE(albumPersistentID("T", "", "", "One/1.flac"), albumPersistentID("T", "", "", "Two/1.flac"));
    // The separators keep "ab" + "c" apart from "a" + "bc", and a discriminator from a title.
    EXPECT_NE(albumPersistentID("ab", "", "c", ""), albumPersistentID("a", "", "bc", ""));
    EXPECT_NE(albumPersistentID("T", "A", "", ""), albumPersistentID("T", "", "A", ""));
}

TEST(MpdIdentityTest, AlbumFolderFoldsOnlyADiscFolder)
{
    struct Case {
        const char *uri;
        const char *folder;
    };
    const Case cases[] = {
        {"Artist/Album/01.flac", "Artist/Album"},
        {"Artist/Album/CD 1/01.flac", "Artist/Album"},
        {"Artist/Album/cd2/01.flac", "Artist/Album"},
        {"Artist/Album/Disc 02/01.flac", "Artist/Album"},
        {"Artist/Album/Disk 3/01.flac", "Artist/Album"},
        {"Artist/Album/CDs/01.flac", "Artist/Album/CDs"},
        {"Artist/Album/Disc/01.flac", "Artist/Album/Disc"},
        {"Artist/Album/CD 1a/01.flac", "Artist/Album/CD 1a"},
        {"01.flac", ""},
        {"CD 1/01.flac", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(albumFolder(c.uri), c.folder) << c.uri;
}

} // namespace
} // namespace wheelbox::mpd
