#include "model/MediaJSON.hpp"

#include "support/MediaJSONDecoding.hpp"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace wheelbox {
namespace {

namespace json = boost::json;

std::vector<std::string> keysOf(const json::value &value)
{
    std::vector<std::string> keys;
    for (const auto &entry : value.as_object())
        keys.emplace_back(entry.key());
    return keys;
}

TEST(MediaJSON, RowWritesOptionalKeysOnlyWhenPresent)
{
    using Keys = std::vector<std::string>;
    struct Case {
        MediaItem item;
        Keys keys;
    };
    const Case cases[] = {
        {{.id = "music/albums", .title = "Albums", .kind = MediaItem::Kind::container, .hasChildren = true},
         Keys{"id", "title", "kind", "hasChildren", "playable"}},
        {{.id = "music-track:0000000000000001",
          .title = "Song",
          .subtitle = "Artist",
          .kind = MediaItem::Kind::track,
          .playable = true},
         Keys{"id", "title", "subtitle", "kind", "hasChildren", "playable"}},
        {{.id = "shuffle", .title = "Shuffle", .kind = MediaItem::Kind::toggle, .checked = false},
         Keys{"id", "title", "kind", "hasChildren", "playable", "checked"}},
    };
    for (const auto &[item, keys] : cases) {
        auto value = toJSON(item);
        EXPECT_EQ(keysOf(value), keys) << item.id;
        EXPECT_EQ(value.at("kind"), json::value(toString(item.kind)));
        EXPECT_EQ(test::mediaItemFromJSON(value), item) << item.id;
    }
    EXPECT_EQ(toJSON(cases[2].item).at("checked"), json::value(false));
}

TEST(MediaJSON, WindowAddsItsPlaceAndSectionsOnlyWhenSorted)
{
    MediaListWindow window{{"music/songs", "Songs", {}}, 300000, 120, std::nullopt, 7};
    EXPECT_EQ(json::serialize(toJSON(window)),
              R"({"id":"music/songs","title":"Songs","items":[],"count":300000,"offset":120,"revision":7})");
    window.sections = {{"#", 0}, {"\u00c5", 9}};
    EXPECT_EQ(toJSON(window).at("sections"),
              json::parse(R"([{"initial":"#","index":0},{"initial":"\u00c5","index":9}])"));
}

// Song and album rows may carry details after the record's own keys; a firmware that reads only
// those keys sees the same row.
TEST(MediaJSON, RowDetailsFollowTheRecordsKeysAndOnlyShowableValuesAreWritten)
{
    MediaItem song{.id = "music-track:0000000000000001",
                   .title = "Song",
                   .subtitle = "Artist",
                   .kind = MediaItem::Kind::track,
                   .playable = true,
                   .trackNumber = 7,
                   .discNumber = 2,
                   .duration = 215.373};
    auto value = toJSON(song);
    EXPECT_EQ(keysOf(value), (std::vector<std::string>{"id", "title", "subtitle", "kind", "hasChildren",
                                                       "playable", "trackNumber", "discNumber", "duration"}));
    EXPECT_EQ(value.at("duration"), json::value(215.373));
    EXPECT_EQ(test::mediaItemFromJSON(value), song);

    MediaItem album{.id = "music/albums/00000000000000B1",
                    .title = "Album",
                    .kind = MediaItem::Kind::container,
                    .hasChildren = true,
                    .artist = "Ada \"Q\" Lovelace\n"};
    value = toJSON(album);
    EXPECT_EQ(keysOf(value),
              (std::vector<std::string>{"id", "title", "kind", "hasChildren", "playable", "artist"}));
    EXPECT_EQ(test::mediaItemFromJSON(value), album);

    // Nothing the firmware could not show, and nothing that would fail the encoding.
    for (int number : {0, -1, INT32_MIN}) {
        MediaItem row = song;
        row.trackNumber = number;
        row.discNumber = number;
        auto keys = keysOf(toJSON(row));
        EXPECT_EQ(std::count(keys.begin(), keys.end(), "trackNumber"), 0) << number;
        EXPECT_EQ(std::count(keys.begin(), keys.end(), "discNumber"), 0) << number;
    }
    for (double seconds : {0.0, -0.0, -3.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
        MediaItem row = song;
        row.duration = seconds;
        auto keys = keysOf(toJSON(row));
        EXPECT_EQ(std::count(keys.begin(), keys.end(), "duration"), 0) << seconds;
    }
}

TEST(MediaJSON, ListKeepsRowOrderAndWritesEmptyItems)
{
    MediaList empty{"music/genres", "Genres", {}};
    EXPECT_EQ(json::serialize(toJSON(empty)), R"({"id":"music/genres","title":"Genres","items":[]})");

    MediaList list{"music",
                   "Music",
                   {{.id = "b", .title = "B", .kind = MediaItem::Kind::container, .hasChildren = true},
                    {.id = "a", .title = "A", .subtitle = "sub", .kind = MediaItem::Kind::action}}};
    auto value = toJSON(list);
    EXPECT_EQ(value.at("items").as_array().at(0).at("id"), json::value("b"));
    EXPECT_EQ(test::mediaListFromJSON(value), list);
}

TEST(MediaJSON, EmptyNowPlayingWritesEveryKeyWithNulls)
{
    auto value = toJSON(NowPlayingState::empty());
    EXPECT_EQ(value, json::parse(R"({"source":"none","persistentID":null,"title":"Not Playing","artist":"",)"
                                 R"("album":null,"elapsed":0.0,"duration":0.0,"isPlaying":false,)"
                                 R"("queuePosition":null,"queueCount":null})"));
    EXPECT_EQ(keysOf(value),
              (std::vector<std::string>{"source", "persistentID", "title", "artist", "album", "elapsed",
                                        "duration", "isPlaying", "queuePosition", "queueCount"}));
    EXPECT_EQ(test::nowPlayingStateFromJSON(value), NowPlayingState::empty());
}

TEST(MediaJSON, NowPlayingRoundTripsAndReadsMissingOptionalsAsAbsent)
{
    NowPlayingState state{"music", "00000000000000AF", "Title", "Artist", "Album", 12.5, 200, true, 3, 20};
    EXPECT_EQ(test::nowPlayingStateFromJSON(toJSON(state)), state);

    auto sparse = json::parse(
        R"({"source":"system","title":"T","artist":"","elapsed":1,"duration":2,"isPlaying":true})");
    auto decoded = test::nowPlayingStateFromJSON(sparse);
    EXPECT_FALSE(decoded.persistentID);
    EXPECT_FALSE(decoded.queueCount);
    EXPECT_EQ(decoded.elapsed, 1.0);
}

TEST(MediaJSON, NowPlayingShuffleIsWrittenOnlyWhenKnown)
{
    NowPlayingState state{"music", "00000000000000AF", "Title", "Artist", "Album", 12.5, 200, true, 3, 20};
    EXPECT_EQ(keysOf(toJSON(state)).size(), 10U);
    for (bool shuffle : {true, false}) {
        state.shuffle = shuffle;
        auto value = toJSON(state);
        EXPECT_EQ(keysOf(value).back(), "shuffle");
        EXPECT_EQ(value.at("shuffle"), json::value(shuffle ? "On" : "Off"));
        EXPECT_EQ(test::nowPlayingStateFromJSON(value), state);
    }
    auto unshuffled = state;
    unshuffled.shuffle.reset();
    EXPECT_NE(state, unshuffled) << "a change of shuffle is a change to push";
}

TEST(MediaJSON, NonFiniteTimesFailTheWholeEncoding)
{
    const double bad[] = {std::nan(""), std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity()};
    for (double value : bad) {
        auto elapsed = NowPlayingState::empty();
        elapsed.elapsed = value;
        EXPECT_THROW(toJSON(elapsed), JSONCodingError);
        auto duration = NowPlayingState::empty();
        duration.duration = value;
        EXPECT_THROW(toJSON(duration), JSONCodingError);
    }
}

TEST(MediaJSON, MalformedRecordsAreRejected)
{
    const char *rows[] = {
        R"([])",
        R"({"id":"x","title":"t","kind":"folder","hasChildren":true,"playable":false})",
        R"({"id":"x","title":"t","kind":"track","hasChildren":"yes","playable":false})",
        R"({"id":"x","title":"t","kind":"track","hasChildren":true,"playable":false,"checked":1})",
    };
    for (const char *row : rows)
        EXPECT_THROW(test::mediaItemFromJSON(json::parse(row)), JSONCodingError) << row;
    EXPECT_THROW(
        test::nowPlayingStateFromJSON(json::parse(
            R"({"source":"music","title":"t","artist":"","elapsed":1,"duration":2,"isPlaying":true,"queueCount":1.5})")),
        JSONCodingError);
}

TEST(NowPlayingState, ComparesEveryField)
{
    auto base =
        NowPlayingState{"music", "00000000000000AF", "Title", "Artist", std::nullopt, 10, 200, true, 1, 5};
    auto later = base;
    later.elapsed = 11;
    EXPECT_NE(base, later);
    auto withoutQueue = base;
    withoutQueue.queueCount.reset();
    EXPECT_NE(base, withoutQueue);
    EXPECT_EQ(base, NowPlayingState(base));
}

} // namespace
} // namespace wheelbox
