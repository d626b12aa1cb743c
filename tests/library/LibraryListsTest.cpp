#include "LibraryTestSupport.hpp"

#include "lib/icu/Unicode.hpp"
#include "library/LibraryError.hpp"
#include "library/PathToken.hpp"

#include <algorithm>
#include <cstdint>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>

namespace wheelbox::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Strings = std::vector<std::string>;

// A library read straight from memory, for names no JSON file can hold.
class ContentsSource final : public LibrarySource {
  public:
    explicit ContentsSource(LibraryContents contents) : contents_(std::move(contents)) {}
    LibraryContents open() override { return contents_; }

  private:
    LibraryContents contents_;
};

class LibraryLists : public ::testing::Test {
  protected:
    MediaList list(const std::string &path) { return library.provider.list(path); }

    FixtureLibrary library;
};

TEST_F(LibraryLists, RootListsTheFiveSections)
{
    auto root = list("music");
    EXPECT_EQ(root.title, "Music");
    EXPECT_THAT(idsOf(root), ElementsAre("music/playlists", "music/artists", "music/albums", "music/songs",
                                         "music/genres"));
    EXPECT_THAT(titlesOf(root), ElementsAre("Playlists", "Artists", "Albums", "Songs", "Genres"));
    for (const auto &row : root.items) {
        EXPECT_EQ(row.kind, MediaItem::Kind::container);
        EXPECT_TRUE(row.hasChildren);
        EXPECT_FALSE(row.playable);
        EXPECT_FALSE(row.subtitle);
        EXPECT_FALSE(row.checked);
    }
}

// Song lists, as fixture ids in the order shown. The fixture keeps only songs with a title, the
// first item of each persistent ID, and no podcasts.
TEST_F(LibraryLists, SongListsFollowTheirOrders)
{
    struct Case {
        std::string path;
        std::string title;
        Strings songs;
    };
    const Case cases[] = {
        // Title order: numbers by value, then equal titles by song id.
        {"music/songs", "Songs", {"04", "05", "06", "07", "02", "0B", "01", "08", "03"}},
        // Artist order: no artist first; "beta" before "Beta"; then album title (untitled first),
        // album id, disc, track.
        {"music/artists/all/all", "Songs", {"07", "08", "02", "01", "03", "04", "05", "06", "0B"}},
        // Album order: disc 1 before disc 2, whatever the track numbers.
        {"music/albums/" + hex("B2"), "Second", {"04", "03"}},
        {"music/artists/all/" + hex("B2"), "Second", {"04", "03"}},
        // A genre stored with spaces matches its trimmed name.
        {"music/genres/" + encodePathToken("Jazz"), "Jazz", {"04", "03"}},
        {"music/genres/" + encodePathToken("Gone"), "Gone", {}},
        // The empty token lists the songs without a genre (a blank one is none), in album order;
        // a blank token is a genre no song has.
        {"music/genres/", "", {"08", "07"}},
        {"music/genres/" + encodePathToken("  "), "  ", {}},
        // The padded artist name matches its trimmed token.
        {"music/artists/" + encodePathToken("Alpha") + "/all", "Alpha", {"08", "02", "01"}},
        {"music/artists/" + encodePathToken("Alpha") + "/all/ignored/too", "Alpha", {"08", "02", "01"}},
        {"music/artists/" + encodePathToken("Alpha") + "/" + hex("B1"), "First Light", {"02", "01"}},
        // Composed and decomposed forms of one name are one artist.
        {"music/artists/" + encodePathToken("C\u00e9line") + "/all", "C\u00e9line", {"05", "06"}},
        {"music/artists/" + encodePathToken("Ce\u0301line") + "/all", "Ce\u0301line", {"05", "06"}},
        // A song title or a genre is no artist.
        {"music/artists/" + encodePathToken("Zebra") + "/all", "Zebra", {}},
        {"music/artists/" + encodePathToken("Rock") + "/all", "Rock", {}},
        // Playlist order as stored, repeats kept; a repeated persistent ID plays under its own title.
        {"music/playlist/" + hex("C1"), "Road Trip", {"01", "02", "01", "01"}},
    };
    for (const auto &[path, title, songs] : cases) {
        SCOPED_TRACE(path);
        auto result = list(path);
        EXPECT_EQ(result.id, path);
        EXPECT_EQ(result.title, title);
        EXPECT_THAT(songsOf(result), ElementsAreArray(songs));
        for (const auto &row : result.items) {
            EXPECT_EQ(row.kind, MediaItem::Kind::track);
            EXPECT_FALSE(row.hasChildren);
            EXPECT_TRUE(row.playable);
        }
    }
}

TEST_F(LibraryLists, SongRowsCarryTitleAndTrimmedArtist)
{
    auto road = list("music/playlist/" + hex("C1"));
    ASSERT_EQ(road.items.size(), 4U);
    EXPECT_EQ(road.items[0].id, "music-track:" + hex("01"));
    EXPECT_EQ(road.items[0].title, "Song 10");
    EXPECT_EQ(road.items[0].subtitle, "Alpha");
    EXPECT_EQ(road.items[2].title, "Duplicate");
    EXPECT_EQ(road.items[2].subtitle, "Delta");

    auto noArtist = list("music/albums/" + hex("B5"));
    ASSERT_EQ(noArtist.items.size(), 1U);
    EXPECT_FALSE(noArtist.items[0].subtitle);
}

TEST_F(LibraryLists, ContainerListsFollowTheirOrders)
{
    struct Case {
        std::string path;
        std::string title;
        Strings ids;
        Strings titles;
    };
    const std::string alpha = "music/artists/" + encodePathToken("Alpha");
    const Case cases[] = {
        {"music/artists",
         "Artists",
         {"music/artists/all", "music/artists/" + encodePathToken("Alpha"),
          "music/artists/" + encodePathToken("beta"), "music/artists/" + encodePathToken("Beta"),
          "music/artists/" + encodePathToken("Ce\u0301line"), "music/artists/" + encodePathToken("Gamma")},
         // Names differing in case stay two rows; canonically equal names are one, titled as first seen.
         {"All", "Alpha", "beta", "Beta", "Ce\u0301line", "Gamma"}},
        {"music/albums",
         "Albums",
         {"music/albums/" + hex("B5"), "music/albums/" + hex("B1"), "music/albums/" + hex("B3"),
          "music/albums/" + hex("B4"), "music/albums/" + hex("B2"), "music/albums/" + hex("B7")},
         // Equal titles fall back to the album id; the untitled album is left out.
         {"Compilation", "First Light", "Same Title", "Same Title", "Second", "Zed"}},
        {"music/artists/all",
         "Albums",
         {"music/artists/all/all", "music/artists/all/" + hex("B5"), "music/artists/all/" + hex("B1"),
          "music/artists/all/" + hex("B2"), "music/artists/all/" + hex("B3"),
          "music/artists/all/" + hex("B4"), "music/artists/all/" + hex("B7")},
         // The album without an artist comes first.
         {"All", "Compilation", "First Light", "Second", "Same Title", "Same Title", "Zed"}},
        {"music/genres",
         "Genres",
         {"music/genres/" + encodePathToken("Jazz"), "music/genres/" + encodePathToken("Pop"),
          "music/genres/" + encodePathToken("Rock")},
         {"Jazz", "Pop", "Rock"}},
        // Numbers by value, case only breaking ties; hidden, folder, built-in, queue and songless
        // playlists are left out.
        {"music/playlists",
         "Playlists",
         {"music/playlist/" + hex("CC"), "music/playlist/" + hex("CB"), "music/playlist/" + hex("C1"),
          "music/playlist/" + hex("C2")},
         {"Album 9", "Album 10", "Road Trip", "road trip 2"}},
        {alpha, "Alpha", {alpha + "/all", alpha + "/" + hex("B1")}, {"All", "First Light"}},
    };
    for (const auto &[path, title, ids, titles] : cases) {
        SCOPED_TRACE(path);
        auto result = list(path);
        EXPECT_EQ(result.id, path);
        EXPECT_EQ(result.title, title);
        EXPECT_THAT(idsOf(result), ElementsAreArray(ids));
        EXPECT_THAT(titlesOf(result), ElementsAreArray(titles));
        for (const auto &row : result.items)
            EXPECT_EQ(row.kind, MediaItem::Kind::container);
    }
}

TEST_F(LibraryLists, UnknownPathsFail)
{
    const std::string unknown[] = {
        "",
        "Music",
        "music/",
        "musicx",
        "music/song",
        "music/playlists/" + hex("C1"),
        "music/playlist/" + hex("C3"), // a folder is not a listed playlist
        "music/playlist/" + hex("c1").substr(0, 14) + "c1",
        "music/albums/" + hex("B6"), // untitled album
        "music/albums/" + hex("FF"),
        "music/albums/00000000000000b1",
        "music/albums/B1",
        "music/artists/all/",
        "music/artists/all/" + hex("B6"),
        "music/genres/Um9jaw==",
        "music/genres/Um9ja+",
        "music/genres/U",
        "music/artists/" + encodePathToken("Alpha") + "/" + hex("B2"), // not this artist's album
        "music/artists/" + encodePathToken("Alpha") + "/" + hex("B6"),
        "music/artists/!!",
    };
    for (const auto &path : unknown) {
        SCOPED_TRACE(path);
        try {
            list(path);
            ADD_FAILURE() << "listed";
        } catch (const LibraryError &error) {
            EXPECT_EQ(error, LibraryError::unknownPath(path));
            EXPECT_EQ(error.description(), "Unknown library path: " + path);
        }
    }
}

TEST(LibraryListsOfBadlyTaggedFiles, EveryArtistAndGenreRowOpensToItsSongs)
{
    // Names as a badly tagged file gives them: a lone continuation byte, a cut sequence, an
    // overlong "/", a surrogate, and one that is fine.
    const std::vector<std::string> names = {"Bad \x80 name", "Cut \xE2\x82", "Over\xC0\xAFlong",
                                            "Half \xED\xA0\x80 pair", "Fine ¬ name"};
    LibraryContents contents;
    for (std::size_t i = 0; i < names.size(); ++i) {
        LibrarySong song;
        song.persistentID = 0x100 + i;
        song.title = "Song " + std::to_string(i);
        song.artistName = names[i];
        song.genre = names[i];
        song.album = {.persistentID = 0x200 + i, .title = names[i], .discNumber = 1};
        contents.songs.push_back(std::move(song));
    }
    ContentsSource source(std::move(contents));
    ManualClock clock;
    MusicLibraryProvider provider(source, clock, "");
    for (const std::string section : {"music/artists", "music/genres"}) {
        auto rows = provider.list(section).items;
        std::erase_if(rows, [](const MediaItem &row) { return row.id == "music/artists/all"; });
        ASSERT_EQ(rows.size(), names.size()) << section;
        for (const auto &row : rows) {
            SCOPED_TRACE(row.id);
            EXPECT_TRUE(icu::isValidUTF8(row.title));
            auto opened = provider.list(row.id);
            EXPECT_FALSE(opened.items.empty());
        }
    }
}

// Every list of the fixture, found by opening every container row from the root.
std::vector<std::string> everyPath(MusicLibraryProvider &provider)
{
    std::vector<std::string> paths{"music"};
    for (std::size_t i = 0; i < paths.size(); ++i) {
        for (const auto &row : provider.list(paths[i]).items) {
            if (row.hasChildren && std::find(paths.begin(), paths.end(), row.id) == paths.end())
                paths.push_back(row.id);
        }
    }
    return paths;
}

TEST_F(LibraryLists, AWindowIsAStretchOfTheWholeList)
{
    auto paths = everyPath(library.provider);
    ASSERT_GT(paths.size(), 25U);
    for (const auto &path : paths) {
        SCOPED_TRACE(path);
        auto whole = list(path);
        const auto count = whole.items.size();
        // At the start, in the middle, at the end, and past it.
        for (std::size_t offset :
             {std::size_t{0}, count / 2, count - std::min<std::size_t>(count, 1), count, count + 7}) {
            for (std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{2}, count, SIZE_MAX}) {
                SCOPED_TRACE(std::to_string(offset) + "+" + std::to_string(limit));
                auto window = library.provider.window(path, offset, limit);
                auto start = std::min(offset, count);
                auto end = start + std::min(limit, count - start);
                EXPECT_EQ(window.count, count);
                EXPECT_EQ(window.offset, start);
                EXPECT_EQ(window.list.id, whole.id);
                EXPECT_EQ(window.list.title, whole.title);
                EXPECT_EQ(window.list.items,
                          std::vector<MediaItem>(whole.items.begin() + static_cast<std::ptrdiff_t>(start),
                                                 whole.items.begin() + static_cast<std::ptrdiff_t>(end)));
            }
        }
    }
}

TEST_F(LibraryLists, ListsSortedByTheirTitlesCarrySections)
{
    using Sections = std::vector<ListSection>;
    const std::string alpha = "music/artists/" + encodePathToken("Alpha");
    struct Case {
        std::string path;
        std::optional<Sections> sections;
    };
    const Case cases[] = {
        // apple, Échelle, Echo, No Artist Song, Song 2, Song 2, Song 10, Untitled Album Song, Zebra
        {"music/songs", Sections{{"A", 0}, {"E", 1}, {"N", 3}, {"S", 4}, {"U", 7}, {"Z", 8}}},
        // The "All" row is no name: sections begin after it.
        {"music/artists", Sections{{"A", 1}, {"B", 2}, {"C", 4}, {"G", 5}}},
        {"music/albums", Sections{{"C", 0}, {"F", 1}, {"S", 2}, {"Z", 5}}},
        {"music/genres", Sections{{"J", 0}, {"P", 1}, {"R", 2}}},
        {"music/playlists", Sections{{"A", 0}, {"R", 2}}},
        {alpha, Sections{{"F", 1}}},
        // Lists in another order than their titles' have none.
        {"music", std::nullopt},
        {"music/artists/all", std::nullopt},
        {"music/artists/all/all", std::nullopt},
        {alpha + "/all", std::nullopt},
        {"music/albums/" + hex("B2"), std::nullopt},
        {"music/genres/" + encodePathToken("Rock"), std::nullopt},
        {"music/playlist/" + hex("C1"), std::nullopt},
    };
    for (const auto &[path, sections] : cases) {
        SCOPED_TRACE(path);
        // Any window carries the sections of the whole list.
        EXPECT_EQ(library.provider.window(path, 0, 1).sections, sections);
        EXPECT_EQ(library.provider.window(path, 3, 0).sections, sections);
    }
}

// Songs titled in several scripts, for the sections of the songs list under a locale's collation.
std::vector<ListSection> songSections(const std::vector<std::string> &titles, const std::string &locale)
{
    LibraryContents contents;
    for (std::size_t i = 0; i < titles.size(); ++i) {
        LibrarySong song;
        song.persistentID = 0x100 + i;
        song.title = titles[i];
        song.album = {0x200, "Album", 1};
        contents.songs.push_back(std::move(song));
    }
    ContentsSource source(std::move(contents));
    ManualClock clock;
    MusicLibraryProvider provider(source, clock, locale);
    auto window = provider.window("music/songs", 0, 0);
    EXPECT_TRUE(window.sections);
    return window.sections.value_or(std::vector<ListSection>{});
}

std::vector<std::string> initialsOf(const std::vector<ListSection> &sections)
{
    std::vector<std::string> initials;
    for (const auto &section : sections)
        initials.push_back(section.initial);
    return initials;
}

TEST(LibraryListSections, FollowTheCollationOfTheList)
{
    // Accents file under their letter, symbols and digits (sorted before every letter) under "#",
    // other scripts under their own letters; each initial is one run.
    const std::vector<std::string> titles = {"Zebra",    "apple",  "Äpfel",   "Banana", "éclair",   "Eagle",
                                             "10 Years", "2 Fast", "(Don't)", "¡Hola!", " Leading", "Ωmega",
                                             "Ёlka",     "Еlena",  "Жuk",     "한국",   "하늘",     "가방",
                                             "さくら",   "ざる",   "Straße",  "ßx",     "été",      "中国"};
    auto root = songSections(titles, "");
    EXPECT_THAT(initialsOf(root),
                ElementsAre("#", "A", "B", "E", "S", "Z", "Ω", "Е", "Ж", "ᄀ", "ᄒ", "さ", "中"));
    ASSERT_FALSE(root.empty());
    EXPECT_EQ(root[0].index, 0U);
    EXPECT_EQ(root[1].index, 5U) << "five titles before the letters";

    // Swedish sorts Å, Ä and Ö after Z, as letters of their own.
    const std::vector<std::string> swedish = {"Ålborg", "Örebro", "Zebra", "Apple", "Äpple", "Oslo"};
    EXPECT_THAT(initialsOf(songSections(swedish, "")), ElementsAre("A", "O", "Z"));
    EXPECT_THAT(initialsOf(songSections(swedish, "sv_SE")), ElementsAre("A", "O", "Z", "Å", "Ä", "Ö"));
}

TEST_F(LibraryLists, TrackIDsAreTheSongRowsOfAPath)
{
    auto &provider = library.provider;
    EXPECT_THAT(provider.trackIDs("music/artists"), ElementsAre());
    EXPECT_THAT(provider.trackIDs("music/albums/" + hex("B1")), ElementsAre(hex("02"), hex("01")));
    EXPECT_THAT(provider.trackIDs("music/playlist/" + hex("C1")),
                ElementsAre(hex("01"), hex("02"), hex("01"), hex("01")));
    EXPECT_THROW(provider.trackIDs("music/nothing"), LibraryError);
}

// The details the firmware shows: a song's place on its album and its length, an album's artist.
TEST(LibraryListDetails, SongsCarryPlaceAndLengthAlbumsTheirArtist)
{
    ChangingLibrarySource source(R"({"songs": [
        {"id": "1", "title": "One", "artist": "Ann", "track": 1, "duration": 200.5,
         "album": {"id": "A", "title": "Alpha", "disc": 1, "artist": "  Ann & Friends "}},
        {"id": "2", "title": "Two", "artist": "Bob", "track": 3, "duration": 61,
         "album": {"id": "A", "title": "Alpha", "disc": 2}},
        {"id": "3", "title": "Three", "artist": "Cat", "album": {"id": "B", "title": "Beta"}},
        {"id": "4", "title": "Four", "artist": "Cat", "track": -2, "duration": -1,
         "album": {"id": "B", "title": "Beta", "disc": -1}},
        {"id": "5", "title": "Five", "artist": "Dan", "track": 70000, "duration": 1e12,
         "album": {"id": "C", "title": "Gamma", "disc": 40000}},
        {"id": "6", "title": "Six", "artist": "Eve", "album": {"id": "C", "title": "Gamma", "artist": " "}},
        {"id": "7", "title": "Seven", "album": {"id": "D", "title": "Delta"}}]})");
    ManualClock clock;
    MusicLibraryProvider provider(source, clock, "");

    struct Song {
        std::string id;
        std::optional<std::int32_t> track, disc;
        std::optional<double> duration;
    };
    // Numbers past 16 bits are clamped; nothing that is not a positive number or a length is shown.
    const Song songs[] = {{"01", 1, 1, 200.5}, {"02", 3, 2, 61.0},       {"03", {}, {}, {}},
                          {"04", {}, {}, {}},  {"05", 32767, 32767, {}}, {"06", {}, {}, {}}};
    for (const auto &song : songs) {
        SCOPED_TRACE(song.id);
        auto rows = provider.list("music/songs").items;
        auto row = std::find_if(rows.begin(), rows.end(),
                                [&](const auto &item) { return item.id == "music-track:" + hex(song.id); });
        ASSERT_NE(row, rows.end());
        EXPECT_EQ(row->trackNumber, song.track);
        EXPECT_EQ(row->discNumber, song.disc);
        EXPECT_EQ(row->duration, song.duration);
        EXPECT_FALSE(row->artist);
    }

    // The album artist (trimmed; a blank one is none), else the artist every song shares, else none.
    std::map<std::string, std::optional<std::string>> artists{
        {"Alpha", "Ann & Friends"}, {"Beta", "Cat"}, {"Gamma", std::nullopt}, {"Delta", std::nullopt}};
    for (const std::string &path : std::vector<std::string>{"music/albums", "music/artists/all",
                                                            "music/artists/" + encodePathToken("Cat")}) {
        SCOPED_TRACE(path);
        for (const auto &row : provider.list(path).items) {
            if (row.title == "All") {
                EXPECT_FALSE(row.artist);
                continue;
            }
            ASSERT_TRUE(artists.contains(row.title)) << row.title;
            EXPECT_EQ(row.artist, artists[row.title]) << row.title;
            EXPECT_FALSE(row.trackNumber);
        }
    }
}

} // namespace
} // namespace wheelbox::test
