#include "LibraryTestSupport.hpp"

#include "lib/icu/SearchText.hpp"
#include "lib/icu/TextCollator.hpp"
#include "library/LibraryLists.hpp"
#include "library/LibrarySearch.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json.hpp>

#include <iterator>
#include <set>
#include <sstream>

namespace wheelbox::test {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(SearchText, FoldsCaseAccentsAndFormsAlikeAndKeepsOnlyWords)
{
    struct Case {
        const char *text;
        const char *folded;
    };
    const Case cases[] = {
        {"Quiet Rivers", "quiet rivers"},
        {"  ÉLAN  ", "elan"},
        {"E\u0301lan", "elan"},                      // decomposed
        {"Straße", "strasse"},                       // full case folding
        {"İstanbul", "istanbul"},                    // dotted capital I
        {"\uff21\uff22\uff23 \ufb01ne", "abc fine"}, // full-width letters, a ligature
        {"Don’t Stop", "dont stop"},                 // apostrophes join
        {"rock 'n' roll", "rock n roll"},
        {"AC/DC", "ac dc"},
        {"Track\t10\n(Live)", "track 10 live"},
        {"a\u2028b\u2029c", "a b c"}, // line and paragraph separators
        {"say \"hi\" \\ `rm -rf` ${x} </script>", "say hi rm rf x script"},
        {"Zoë Ñu Ørsted Œuvre", "zoe nu ørsted œuvre"},
        {"東京 さくら", "東 京 さ く ら"}, // each ideograph and kana a word
        {"사랑", "사랑"},                  // Hangul keeps its syllables
        {"Любовь", "любовь"},
        {"soft\u00adhyphen", "softhyphen"}, // default ignorables vanish
        {"!!!", "!!!"},                     // no letters: the text itself
        {"  \" \\ ", "\" \\"},
        {"", ""},
        {" \u3000 ", ""},
    };
    for (auto [text, folded] : cases)
        EXPECT_EQ(icu::foldForSearch(text), folded) << text;

    // Plain ASCII takes a shorter way; it must agree with the long one.
    EXPECT_EQ(icu::foldForSearch("It's OK, \"A\"!"), "its ok a");
    EXPECT_EQ(icu::foldForSearch("It's OK, \"A\"! \u00e9"), "its ok a e");
    EXPECT_EQ(icu::foldForSearch("(!)"), icu::foldForSearch("(!)\u200b"));
    // Ill-formed UTF-8 and NUL inside are separators, not the end of the text.
    EXPECT_EQ(icu::foldForSearch(std::string_view("Bad\xff\xfeName\0Two", 14)), "bad name two");
    EXPECT_EQ(icu::foldForSearch("\xc0\xaf"), "\ufffd\ufffd");
}

// The index folds each part of a name between spaces on its own; a query is folded whole. Both
// must give the same words.
TEST(SearchText, FoldingThePartsBetweenSpacesIsFoldingTheWhole)
{
    auto words = [](std::string_view folded) {
        std::set<std::string> set;
        for (std::size_t start = 0; start < folded.size();) {
            auto end = std::min(folded.find(' ', start), folded.size());
            if (end > start)
                set.emplace(folded.substr(start, end - start));
            start = end + 1;
        }
        return set;
    };
    for (std::string_view text :
         {"Don’t  Stop", "東京 さくら夜", "!!! ???", "Love !!! x", "e \u0301x", "\u01c5 \ufb01ne",
          "a\u00a0b c", " ' ", "Ω — 東", "\xff \xc0\xaf z", "İ I\u0307"}) {
        std::set<std::string> parts, fallbacks;
        for (std::size_t start = 0; start < text.size();) {
            auto end = std::min(text.find(' ', start), text.size());
            if (end > start) {
                bool withoutWords = false;
                auto folded = icu::foldForSearch(text.substr(start, end - start), withoutWords);
                (withoutWords ? fallbacks : parts).merge(words(folded));
            }
            start = end + 1;
        }
        EXPECT_EQ(words(icu::foldForSearch(text)), parts.empty() ? fallbacks : parts) << text;
    }
}

TEST(SearchText, CutsAtCharactersNeverInsideOne)
{
    struct Case {
        std::string text;
        std::size_t count;
        std::string cut;
    };
    const std::string flag = "\U0001F1EB\U0001F1F7"; // one character, eight bytes
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    const Case cases[] = {
        {"abc", 2, "ab"},
        {"abc", 3, "abc"},
        {"e\u0301e\u0301e\u0301", 2, "e\u0301e\u0301"},
        {flag + flag + flag, 2, flag + flag},
        {family + "x", 1, family},
        {"é\xff"
         "abc",
         2, "é\ufffd"},
        {std::string(250, 'a'), 200, std::string(200, 'a')},
        {std::string(2000, '\x80'), 3, "\ufffd\ufffd\ufffd"},
        {"", 200, ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(icu::leadingCharacters(c.text, c.count), c.cut) << c.text;
}

// A library whose names the search cases below refer to.
constexpr const char *searchLibrary = R"({"songs": [
    {"id": "01", "title": "Quiet Rivers", "artist": "Élan Vital", "album": {"id": "B1", "title": "River Songs"}, "genre": "Folk"},
    {"id": "02", "title": "River Deep", "artist": "Quiet Company", "album": {"id": "B1", "title": "River Songs"}, "genre": "Folk"},
    {"id": "03", "title": "Rivers of Babylon", "artist": "elan", "album": {"id": "B2", "title": "Quiet Storm"}, "genre": "Reggae"},
    {"id": "04", "title": "quiet rivers", "artist": "Élan Vital", "album": {"id": "B3", "title": "Live"}, "genre": "Folk"},
    {"id": "05", "title": "Riverside", "album": {"id": "B4", "title": "Élan"}, "genre": "Rivertown Blues"},
    {"id": "06", "title": "Delivery", "artist": "Deliverance", "album": {"id": "B4", "title": "Élan"}},
    {"id": "07", "title": "Say \"Hi\" \\ now", "artist": "Back\\slash", "album": {"id": "B5", "title": "Quote\"s"}}],
  "playlists": [
    {"id": "C1", "name": "Quiet Evenings", "items": [0, 1]},
    {"id": "C2", "name": "Rivers Mix", "items": [2]}]})";

struct SearchFixture {
    ManualClock clock;
    ChangingLibrarySource source{searchLibrary};
    MusicLibraryProvider provider{source, clock, ""};
};

std::vector<std::string> rowsOf(const MediaList &list)
{
    std::vector<std::string> rows;
    for (const auto &item : list.items) {
        std::string kind = item.id.starts_with("music-track:")      ? "song "
                           : item.id.starts_with("music/artists/")  ? "artist "
                           : item.id.starts_with("music/albums/")   ? "album "
                           : item.id.starts_with("music/playlist/") ? "playlist "
                           : item.id.starts_with("music/genres/")   ? "genre "
                                                                    : item.id + " ";
        rows.push_back(kind + item.title);
    }
    return rows;
}

TEST(LibrarySearch, EveryQueryWordBeginsAWordOfTheNameInAnyOrder)
{
    SearchFixture library;
    auto rows = [&](const char *query) {
        return rowsOf(library.provider.search(query));
    };
    // Songs in title order: case decides only between otherwise equal titles.
    EXPECT_THAT(rows("quiet riv"), ElementsAre("song quiet rivers", "song Quiet Rivers"));
    EXPECT_THAT(rows("RIV QUIET"), ElementsAre("song quiet rivers", "song Quiet Rivers"));
    EXPECT_THAT(rows("elan"), ElementsAre("artist elan", "artist Élan Vital", "album Élan"));
    EXPECT_THAT(rows("ÉLAN vit"), ElementsAre("artist Élan Vital"));
    // The middle of a word is no start of one.
    EXPECT_THAT(rows("iver"), IsEmpty());
    EXPECT_THAT(rows("deliver"), ElementsAre("artist Deliverance", "song Delivery"));
    // Grouped: artists, albums, songs, playlists, genres, each in its own list's order.
    EXPECT_THAT(rows("riv"), ElementsAre("album River Songs", "song quiet rivers", "song Quiet Rivers",
                                         "song River Deep", "song Rivers of Babylon", "song Riverside",
                                         "playlist Rivers Mix", "genre Rivertown Blues"));
    EXPECT_THAT(rows("quiet"), ElementsAre("artist Quiet Company", "album Quiet Storm", "song quiet rivers",
                                           "song Quiet Rivers", "playlist Quiet Evenings"));
    EXPECT_THAT(rows("quiet zzz"), IsEmpty());
}

TEST(LibrarySearch, RowsOpenAndPlayAsTheListsDo)
{
    SearchFixture library;
    auto list = library.provider.search("élan");
    EXPECT_EQ(list.id, "search");
    EXPECT_EQ(list.title, "élan");
    ASSERT_EQ(list.items.size(), 3U);
    // Each container row is the row its own list shows, and opens that list.
    auto artists = library.provider.list("music/artists");
    EXPECT_NE(std::find(artists.items.begin(), artists.items.end(), list.items[0]), artists.items.end());
    EXPECT_EQ(library.provider.list(list.items[1].id).title, "Élan Vital");
    auto albums = library.provider.list("music/albums");
    EXPECT_NE(std::find(albums.items.begin(), albums.items.end(), list.items[2]), albums.items.end());

    auto songs = library.provider.search("babylon");
    ASSERT_EQ(songs.items.size(), 1U);
    const auto &song = songs.items[0];
    EXPECT_EQ(song.id, "music-track:" + hex("03"));
    EXPECT_EQ(song.subtitle, "elan");
    EXPECT_EQ(song.kind, MediaItem::Kind::track);
    EXPECT_TRUE(song.playable);
    auto all = library.provider.list("music/songs");
    EXPECT_NE(std::find(all.items.begin(), all.items.end(), song), all.items.end());

    for (const char *query : {"rivertown", "mix"}) {
        auto found = library.provider.search(query);
        ASSERT_EQ(found.items.size(), 1U) << query;
        EXPECT_FALSE(library.provider.list(found.items[0].id).items.empty()) << query;
    }
}

TEST(LibrarySearch, QuotesBackslashesAndScriptAreOnlyText)
{
    SearchFixture library;
    auto rows = [&](std::string_view query) {
        return rowsOf(library.provider.search(query));
    };
    EXPECT_THAT(rows("\"hi\""), ElementsAre("song Say \"Hi\" \\ now"));
    EXPECT_THAT(rows("back\\slash"), ElementsAre("artist Back\\slash"));
    EXPECT_THAT(rows("quote\"s"), ElementsAre("album Quote\"s"));
    EXPECT_THAT(rows("\");alert(1);//"), IsEmpty());
    EXPECT_THAT(rows("\\"), IsEmpty());
    EXPECT_THAT(rows(std::string_view("say\0now", 7)), ElementsAre("song Say \"Hi\" \\ now"));
    EXPECT_THAT(rows("say\nnow"), ElementsAre("song Say \"Hi\" \\ now"));
    EXPECT_THAT(rows("say\u2028now"), ElementsAre("song Say \"Hi\" \\ now"));
    // The answer with such a query as its title is still plain JSON.
    auto list = library.provider.search("\"\\\u2028\n");
    EXPECT_EQ(list.title, "\"\\\u2028\n");
    EXPECT_THAT(list.items, IsEmpty());
}

TEST(LibrarySearch, BlankQueriesFindNothingAndReadNothing)
{
    SearchFixture library;
    library.clock.advance(10min);
    for (const char *query : {"", " ", "\t\n", "\u3000\u2028"}) {
        auto list = library.provider.search(query);
        EXPECT_EQ(list.id, "search");
        EXPECT_EQ(list.title, query);
        EXPECT_THAT(list.items, IsEmpty());
    }
    EXPECT_EQ(library.source.openCount(), 1);
}

TEST(LibrarySearch, AHugeQueryIsCutToTwoHundredCharacters)
{
    SearchFixture library;
    std::string accents;
    for (int i = 0; i < 300; ++i)
        accents += "e\u0301";
    auto list = library.provider.search(accents);
    EXPECT_EQ(list.title.size(), 200U * 3);
    EXPECT_TRUE(list.title.ends_with("e\u0301"));

    auto words = "quiet " + std::string(10'000'000, 'x');
    auto huge = library.provider.search(words);
    EXPECT_EQ(huge.title, "quiet " + std::string(194, 'x'));
    EXPECT_THAT(huge.items, IsEmpty());
}

TEST(LibrarySearch, TakesAtMostFiftyOfEachKindInListOrder)
{
    // 60 songs "Hit N", 60 artists "Hitmaker N", 60 albums "Hits N": each kind stops at 50.
    boost::json::array songs;
    for (int i = 0; i < 60; ++i) {
        char id[8];
        std::snprintf(id, sizeof id, "%02X", i + 1);
        songs.push_back({{"id", id},
                         {"title", "Hit " + std::to_string(60 - i)},
                         {"artist", "Hitmaker " + std::to_string(i)},
                         {"album", {{"id", id}, {"title", "Hits " + std::to_string(i)}}}});
    }
    ManualClock clock;
    ChangingLibrarySource source(boost::json::serialize(boost::json::object{{"songs", songs}}));
    MusicLibraryProvider provider(source, clock, "");
    auto list = provider.search("hit");
    ASSERT_EQ(list.items.size(), 150U);
    // Numbers sort by value: the first fifty of each list, not of their bytes.
    EXPECT_EQ(list.items[0].title, "Hitmaker 0");
    EXPECT_EQ(list.items[49].title, "Hitmaker 49");
    EXPECT_EQ(list.items[50].title, "Hits 0");
    EXPECT_EQ(list.items[99].title, "Hits 49");
    EXPECT_EQ(list.items[100].title, "Hit 1");
    EXPECT_EQ(list.items[149].title, "Hit 50");

    // Sixty number words span several blocks of the word index: a prefix finds its whole run.
    auto fours = titlesOf(provider.search("4 hit"));
    ASSERT_EQ(fours.size(), 33U);
    EXPECT_EQ(fours[0], "Hitmaker 4");
    EXPECT_EQ(fours[1], "Hitmaker 40");
    EXPECT_EQ(fours[10], "Hitmaker 49");
    EXPECT_EQ(fours[11], "Hits 4");
    EXPECT_EQ(fours[32], "Hit 49");
    EXPECT_THAT(titlesOf(provider.search("hits 59")), ElementsAre("Hits 59"));
    EXPECT_THAT(titlesOf(provider.search("hitmaker 0")), ElementsAre("Hitmaker 0"));
}

// Long lists of positions are sought through their skips; the result must be what trying every
// title in the songs list's order gives.
TEST(LibrarySearch, LongListsFindWhatTryingEveryTitleFinds)
{
    boost::json::array songs;
    for (int i = 0; i < 3000; ++i) {
        char id[8];
        std::snprintf(id, sizeof id, "%X", i + 1);
        songs.push_back({{"id", id},
                         {"title", "Song " + std::to_string((i * 7919) % 3000) + (i % 3 == 0 ? " Live" : "")},
                         {"album", {{"id", "B1"}, {"title", "Album"}}}});
    }
    ManualClock clock;
    ChangingLibrarySource source(boost::json::serialize(boost::json::object{{"songs", songs}}));
    MusicLibraryProvider provider(source, clock, "");
    auto all = titlesOf(provider.list("music/songs"));
    auto lower = [](std::string text) {
        for (auto &c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    for (std::string query :
         {"song 1", "song 19", "1 song", "song 2999", "so 5 li", "live 29", "song 0", "l s 7"}) {
        std::vector<std::string> expected;
        std::istringstream queryWords(query);
        std::vector<std::string> wanted(std::istream_iterator<std::string>(queryWords), {});
        for (const auto &title : all) {
            std::istringstream titleWords(lower(title));
            std::vector<std::string> words(std::istream_iterator<std::string>(titleWords), {});
            bool match = std::all_of(wanted.begin(), wanted.end(), [&](const auto &prefix) {
                return std::any_of(words.begin(), words.end(),
                                   [&](const auto &word) { return word.starts_with(prefix); });
            });
            if (match && expected.size() < 50)
                expected.push_back(title);
        }
        EXPECT_EQ(titlesOf(provider.search(query)), expected) << query;
    }
}

TEST(LibrarySearch, EveryTitleFindsItsOwnSong)
{
    const std::vector<std::string> titles = {"Say \"it\" 'twice'",
                                             "C:\\Music\\new\\track\\",
                                             "\u00ac not \u00ac",
                                             "one\ntwo\r\nthree",
                                             "rec\u001eunit\u001fend",
                                             "\u202eevil\u202c \u200fright\u200e",
                                             "end tell\"\n\" & (do shell script \"rm -rf /\") & \"",
                                             "!!!",
                                             "東京の夜",
                                             "Take 1",
                                             "Take 10"};
    boost::json::array songs;
    for (std::size_t i = 0; i < titles.size(); ++i)
        songs.push_back({{"id", std::to_string(i + 1)},
                         {"title", titles[i]},
                         {"album", {{"id", "B1"}, {"title", "Album"}}}});
    ManualClock clock;
    ChangingLibrarySource source(boost::json::serialize(boost::json::object{{"songs", songs}}));
    MusicLibraryProvider provider(source, clock, "");
    for (const auto &title : titles) {
        auto found = titlesOf(provider.search(title));
        EXPECT_NE(std::find(found.begin(), found.end(), title), found.end()) << title;
    }
}

TEST(LibrarySearch, NamesNotWellFormedAreFoundAsTheListsShowThem)
{
    struct Source final : LibrarySource {
        LibraryContents open() override
        {
            LibraryContents contents;
            LibrarySong song;
            song.persistentID = 1;
            song.title = "Bad\xff Title\xc0";
            song.artistName = "Art\xed\xa0\x80ist"; // a surrogate
            song.album.persistentID = 2;
            song.album.title = std::string("Al\0bum", 6);
            contents.songs.push_back(song);
            return contents;
        }
    } source;
    ManualClock clock;
    MusicLibraryProvider provider(source, clock, "");
    auto rows = [&](std::string_view query) {
        return rowsOf(provider.search(query));
    };
    EXPECT_THAT(rows("bad title"), ElementsAre("song Bad\xff Title\xc0"));
    EXPECT_THAT(rows("art ist"), ElementsAre("artist Art\ufffd\ufffd\ufffdist"));
    EXPECT_THAT(rows("al bum"), ElementsAre(std::string("album Al\0bum", 12)));
    // Every row opens.
    for (const auto &item : provider.search("art").items)
        EXPECT_NO_THROW(provider.list(item.id)) << item.id;
}

TEST(LibrarySearch, FollowsTheLibrarysReloadsAndStaleness)
{
    SearchFixture library;
    EXPECT_THAT(rowsOf(library.provider.search("babylon")), ElementsAre("song Rivers of Babylon"));
    library.source.setJSON(
        R"({"songs": [{"id": "09", "title": "Babylon Falls", "album": {"id": "B9", "title": "New"}}]})");
    library.clock.advance(60s);
    EXPECT_THAT(rowsOf(library.provider.search("babylon")), ElementsAre("song Rivers of Babylon"));
    library.clock.advance(1s);
    EXPECT_THAT(rowsOf(library.provider.search("babylon")), ElementsAre("song Babylon Falls"));
    EXPECT_EQ(library.source.openCount(), 2);

    library.source.setJSON(
        R"({"songs": [{"id": "0A", "title": "Babylon Again", "album": {"id": "B9", "title": "New"}}]})");
    library.provider.reload();
    EXPECT_THAT(rowsOf(library.provider.search("babylon")), ElementsAre("song Babylon Again"));
}

TEST(LibrarySearch, AnUnavailableLibraryAnswersItsRetryRowUnderTheQuery)
{
    ManualClock clock;
    ChangingLibrarySource source(R"({"error": "Music library is loading…"})");
    MusicLibraryProvider provider(source, clock, "");
    auto list = provider.search("quiet");
    EXPECT_EQ(list.id, "search");
    EXPECT_EQ(list.title, "quiet");
    ASSERT_EQ(list.items.size(), 1U);
    EXPECT_EQ(list.items[0].id, "music-unavailable");
    EXPECT_EQ(list.items[0].title, "Retry Music Library");
    EXPECT_EQ(list.items[0].subtitle, "Music library is loading…");

    // Nothing reloads by itself; once a reload succeeds the search finds again.
    source.setJSON(searchLibrary);
    clock.advance(10min);
    EXPECT_EQ(provider.search("quiet").items[0].id, "music-unavailable");
    provider.reload();
    EXPECT_EQ(provider.search("quiet").items.size(), 5U);

    ChangingLibrarySource empty(R"({"songs": []})");
    MusicLibraryProvider none(empty, clock, "");
    EXPECT_THAT(none.search("quiet").items, IsEmpty());
}

} // namespace
} // namespace wheelbox::test
