// Songs whose reply lines libmpdclient refuses, among songs it reads: an MPD of the test's own
// serves a database file written here, so no audio file has to carry the tags.
#include "linux/MpdLibrarySource.hpp"

#include "lib/mpd/MpdIdentity.hpp"
#include "support/FixtureMpd.hpp"
#include "support/ServiceEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace wheelbox {
namespace {

using test::FixtureMpd;
using test::FixtureSong;
using test::valueFor;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;
using ::testing::UnorderedElementsAre;

const std::string hugeTitle = valueFor("Title", 6000);
const std::string hugeArtist = valueFor("Artist", 6000);
// One byte over.
const std::string hugeGenre = valueFor("Genre", 1);
// Two bytes a character: a line of about 20,000 bytes.
const std::string hugeAlbum = valueFor("Album", 15'905, "\u03a9");

// In database order: MPD walks folders by name, songs by name within them.
const std::vector<FixtureSong> fixtureSongs = {
    {"Album",
     "01 \"Huge\" title.flac",
     {{"Title", hugeTitle}, {"Artist", "Band"}, {"Album", "Album"}, {"Track", "1"}}},
    {"Album", "02 Fine.flac", {{"Title", "Fine"}, {"Artist", "Band"}, {"Album", "Album"}, {"Track", "2"}}},
    {"Album",
     "03 Huge album.flac",
     {{"Title", "Huge album"}, {"Artist", "Band"}, {"Album", hugeAlbum}, {"Track", "3"}}},
    {"Album",
     "04 Fine too.flac",
     {{"Title", "Fine too"}, {"Artist", "Band"}, {"Album", "Album"}, {"Track", "4"}}},
    {"Alone", "Huge artist.flac", {{"Title", "Alone"}, {"Artist", hugeArtist}, {"Genre", "Folk"}}},
    {"Pair", "01 One over.flac", {{"Title", "Pair one"}, {"Genre", hugeGenre}, {"Track", "1"}}},
    {"Pair", "02 Huge.flac", {{"Title", hugeTitle}, {"Track", "2"}}},
    {"Pair", "03 At the limit.flac", {{"Title", valueFor("Title", 0)}, {"Genre", valueFor("Genre", 0)}}},
    {"Pair", "04 Fine.flac", {{"Title", "Pair fine"}}},
    {"Y", std::string(5000, 'n') + ".flac", {{"Title", "Unnamed"}}},
    {"Z", "Huge last.flac", {{"Title", hugeTitle}, {"Album", "Last"}}},
};

// The songs as the source should deliver them: the tags that fit a line; the file name without
// its extension for a title that does not; the song whose name does not fit left out.
struct Expected {
    std::string uri, title;
    std::optional<std::string> artist, album, genre;
    int track;
};

const std::vector<Expected> expectedSongs = {
    {"Album/01 \"Huge\" title.flac", "01 \"Huge\" title", "Band", "Album", {}, 1},
    {"Album/02 Fine.flac", "Fine", "Band", "Album", {}, 2},
    {"Album/03 Huge album.flac", "Huge album", "Band", {}, {}, 3},
    {"Album/04 Fine too.flac", "Fine too", "Band", "Album", {}, 4},
    {"Alone/Huge artist.flac", "Alone", {}, {}, "Folk", 0},
    {"Pair/01 One over.flac", "Pair one", {}, {}, {}, 1},
    {"Pair/02 Huge.flac", "02 Huge", {}, {}, {}, 2},
    {"Pair/03 At the limit.flac", valueFor("Title", 0), {}, {}, valueFor("Genre", 0), 0},
    {"Pair/04 Fine.flac", "Pair fine", {}, {}, {}, 0},
    {"Z/Huge last.flac", "Huge last", {}, "Last", {}, 0},
};

class MpdLibrarySourceLongLineTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        mpd_ = new FixtureMpd(
            fixtureSongs,
            {{"Mixed",
              "Z/Huge last.flac\nAlbum/02 Fine.flac\nPair/02 Huge.flac\nAlbum/01 \"Huge\" title.flac\n"},
             {"Streams", "Album/02 Fine.flac\nhttp://radio.invalid/?" + std::string(5000, 'q') +
                             "\nAlbum/04 Fine too.flac\n"}});
    }

    static void TearDownTestSuite()
    {
        delete mpd_;
        mpd_ = nullptr;
    }

    void SetUp() override
    {
        if (mpd_ && mpd_->ready())
            return;
        if (test::servicesRequired())
            FAIL() << "no MPD to serve the database";
        GTEST_SKIP() << "needs mpd";
    }

    static MpdLibrarySource source(std::size_t pageSize, MpdLibrarySource::Reporter report = {})
    {
        auto ignore = [](std::string_view) {
        };
        return MpdLibrarySource(mpd_->address(), MpdLibraryReadOptions{std::chrono::seconds(10), pageSize},
                                report ? std::move(report) : ignore);
    }

    static inline FixtureMpd *mpd_ = nullptr;
};

// Page sizes put the songs that do not fit at the start, the end and the middle of a page, and a
// page of their own.
TEST_F(MpdLibrarySourceLongLineTest, EverySongThatCanBeNamedIsListedWithTheTagsThatFit)
{
    for (std::size_t pageSize : {1, 2, 3, 5, 4096}) {
        SCOPED_TRACE(pageSize);
        auto contents = source(pageSize).open();

        ASSERT_EQ(contents.songs.size(), expectedSongs.size());
        for (std::size_t i = 0; i < expectedSongs.size(); ++i) {
            auto &expected = expectedSongs[i];
            auto &song = contents.songs[i];
            SCOPED_TRACE(expected.uri);
            EXPECT_EQ(song.persistentID, mpd::songPersistentID(expected.uri));
            EXPECT_EQ(song.title, expected.title);
            EXPECT_EQ(song.artistName, expected.artist);
            EXPECT_EQ(song.album.title, expected.album);
            EXPECT_EQ(song.genre, expected.genre);
            EXPECT_EQ(song.trackNumber, expected.track);
        }
        // Songs read whole and songs cut short keep their places in a playlist; a playlist keeps
        // the entries before one too long.
        std::map<std::string, std::vector<std::size_t>> playlists;
        for (auto &playlist : contents.playlists)
            playlists[playlist.name] = playlist.items;
        EXPECT_THAT(playlists, ElementsAre(Pair("Mixed", ElementsAre(9u, 1u, 6u, 0u)),
                                           Pair("Streams", ElementsAre(1u))));
    }
}

TEST_F(MpdLibrarySourceLongLineTest, EachSongAndPlaylistCutShortIsReportedOnceAcrossReads)
{
    std::vector<std::string> reports;
    auto library = source(4096, [&](std::string_view message) { reports.emplace_back(message); });

    library.open();
    library.open();

    auto aboutTags = [](const std::string &uri) {
        return HasSubstr("sends a tag of " + uri + " longer than");
    };
    EXPECT_THAT(reports,
                UnorderedElementsAre(
                    aboutTags("\"Album/01 \\\"Huge\\\" title.flac\""),
                    aboutTags("\"Album/03 Huge album.flac\""), aboutTags("\"Alone/Huge artist.flac\""),
                    aboutTags("\"Pair/01 One over.flac\""), aboutTags("\"Pair/02 Huge.flac\""),
                    aboutTags("\"Z/Huge last.flac\""), HasSubstr("lists 1 song whose name is longer than"),
                    HasSubstr("an entry of the stored playlist \"Streams\" longer than")));
}

} // namespace
} // namespace wheelbox
