// The media worker's methods, its status step and its change-only poll, over fake players and a
// small JSON library.
#include "MediaWorkerFixture.hpp"

#include "library/MusicLibraryProvider.hpp"
#include "transport/ScriptError.hpp"
#include "transport/TransportError.hpp"
#include "worker/AboutRecord.hpp"
#include "worker/WorkerError.hpp"

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <gmock/gmock.h>

#include <cmath>
#include <functional>
#include <limits>

namespace wheelbox::test {
namespace {

namespace json = boost::json;
using namespace std::chrono_literals;
using ::testing::ElementsAre;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

// What a request should come back with: a result and a pushed reading, or an error text.
struct Outcome {
    std::optional<json::value> result;
    std::optional<json::value> nowPlaying;
    std::optional<std::string> error;
};

Outcome answers(json::value result)
{
    return {std::move(result), std::nullopt, std::nullopt};
}

Outcome fails(std::string text)
{
    return {std::nullopt, std::nullopt, std::move(text)};
}

const Outcome silent{};

// The status object and the pushed reading.
Outcome status(const std::string &transport, const NowPlayingState &reading,
               std::optional<double> volume = std::nullopt)
{
    json::object result{{"transport", transport}, {"nowPlaying", toJSON(reading)}};
    if (volume)
        result["volume"] = *volume;
    return {std::move(result), toJSON(reading), std::nullopt};
}

// A reading inside the device's queue; `shuffle` when the transport dealt that queue itself.
NowPlayingState queued(NowPlayingState state, std::int64_t position, std::int64_t count,
                       std::optional<bool> shuffle = std::nullopt)
{
    state.queuePosition = position;
    state.queueCount = count;
    state.shuffle = shuffle;
    return state;
}

json::value search(const std::string &query)
{
    ManualClock clock;
    JSONLibrarySource source(smallLibrary);
    return toJSON(MusicLibraryProvider(source, clock, "").search(query));
}

json::value list(const std::string &path)
{
    JSONLibrarySource source(smallLibrary);
    ManualClock clock;
    return toJSON(MusicLibraryProvider(source, clock, "").list(path));
}

json::object play(json::object params)
{
    for (auto &[key, value] : json::object{{"volume", 50}, {"shuffle", "Off"}, {"repeat", "Off"}}) {
        if (!params.contains(key))
            params[key] = value;
    }
    return params;
}

const std::string itemA1 = std::string("music-track:") + trackA1;

TEST(MediaWorker, AnswersEveryMethodAsItsTableSays)
{
    struct Case {
        std::string method;
        json::object params;
        Outcome expected;
        // Fragments of scripts the request must send.
        std::vector<std::string> sends = {};
        // The transport stored before the worker starts.
        std::string active = "music";
    };
    const auto music = WorkerRig::musicReading();
    const auto system = WorkerRig::musicReading("system");
    auto withoutKey = [](json::object params, const char *key) {
        params.erase(key);
        return params;
    };
    const json::object fromA1 = play({{"path", "music/songs"}, {"id", itemA1}});
    const json::object selectA1 = play({{"id", itemA1}});
    const Case cases[] = {
        {"ready",
         {},
         answers({{"bridgeVersion", 1},
                  {"transport", "music"},
                  {"volume", 64.0},
                  {"nowPlaying", toJSON(music)}})},
        {"ready",
         {},
         answers({{"bridgeVersion", 1},
                  {"transport", "system"},
                  {"volume", 64.0},
                  {"nowPlaying", toJSON(system)}}),
         {},
         "system"},

        {"getList", {}, answers(list("music"))},
        {"getList", {{"path", "music/songs"}}, answers(list("music/songs"))},
        {"getList", {{"path", 7}}, answers(list("music"))},
        {"getList", {{"path", "music/nope"}}, fails("Unknown library path: music/nope")},
        {"refreshLibrary", {}, answers(list("music"))},
        {"refreshLibrary", {{"path", "music/songs"}}, answers(list("music/songs"))},
        {"search", {{"query", "t"}}, answers(search("t"))},
        {"search", {{"query", " "}}, answers({{"id", "search"}, {"title", " "}, {"items", json::array()}})},
        {"search", {}, fails("Invalid parameter: query")},
        {"search", {{"query", 5}}, fails("Invalid parameter: query")},
        {"search", {{"query", nullptr}}, fails("Invalid parameter: query")},
        {"search", {{"query", json::array{"t"}}}, fails("Invalid parameter: query")},

        {"select",
         play({{"id", itemA1}, {"volume", 150}, {"shuffle", "On"}, {"repeat", "All"}}),
         status("music", queued(music, 1, 1)),
         {"set sound volume to 100.0", "set song repeat to all"}},
        {"select",
         play({{"id", itemA1}, {"volume", -4.5}}),
         status("music", queued(music, 1, 1)),
         {"set sound volume to 0.0"}},
        {"select", withoutKey(selectA1, "id"), fails("Missing parameter: id")},
        {"select", play({{"id", 5}}), fails("Missing parameter: id")},
        {"select", {{"shuffle", "On"}}, fails("Missing parameter: id")},
        {"select", withoutKey(selectA1, "volume"), fails("Missing parameter: volume")},
        {"select", play({{"id", itemA1}, {"volume", "50"}}), fails("Missing parameter: volume")},
        {"select", play({{"id", itemA1}, {"volume", nan}}), fails("Missing parameter: volume")},
        {"select", play({{"id", itemA1}, {"volume", infinity}}), fails("Missing parameter: volume")},
        {"select", withoutKey(selectA1, "shuffle"), fails("Invalid parameter: shuffle")},
        {"select", play({{"id", itemA1}, {"shuffle", "on"}}), fails("Invalid parameter: shuffle")},
        {"select", play({{"id", itemA1}, {"shuffle", true}}), fails("Invalid parameter: shuffle")},
        {"select", withoutKey(selectA1, "repeat"), fails("Invalid parameter: repeat")},
        {"select", play({{"id", itemA1}, {"repeat", "all"}}), fails("Invalid parameter: repeat")},
        {"select", play({{"id", "spotify:track:1"}}), fails("This transport cannot play spotify:track:1.")},

        {"playCollection", fromA1, status("music", queued(music, 2, 4, false)), {"make new user playlist"}},
        {"playCollection", play({{"path", "music/songs"}, {"id", itemA1}, {"index", 1}}),
         status("music", queued(music, 2, 4, false))},
        {"playCollection", play({{"path", "music/songs"}, {"id", itemA1}, {"index", 2.5}}),
         status("music", queued(music, 2, 4, false))},
        {"playCollection", withoutKey(fromA1, "path"), fails("Missing parameter: path")},
        {"playCollection", play({{"path", 3}, {"id", itemA1}}), fails("Missing parameter: path")},
        {"playCollection", withoutKey(fromA1, "id"), fails("Missing parameter: id")},
        {"playCollection", play({{"path", "music/songs"}, {"id", trackA1}}), fails("Missing parameter: id")},
        {"playCollection", withoutKey(fromA1, "volume"), fails("Missing parameter: volume")},
        {"playCollection", play({{"path", "music/songs"}, {"id", itemA1}, {"repeat", 1}}),
         fails("Invalid parameter: repeat")},
        {"playCollection", play({{"path", "music/songs"}, {"id", "music-track:00000000000000FF"}}),
         fails("This transport cannot play 00000000000000FF.")},
        {"playCollection", play({{"path", "music/nope"}, {"id", itemA1}}),
         fails("Unknown library path: music/nope")},

        {"playPause", {}, status("music", music), {"  playpause\n"}},
        {"pause", {}, status("music", music), {"tell application \"Music\" to pause"}},
        {"skip", {}, status("music", music), {"next track"}},
        {"skip", {{"direction", 0}}, status("music", music), {"next track"}},
        {"skip", {{"direction", -7}}, status("music", music), {"previous track"}},
        {"skip", {{"direction", -2.0}}, status("music", music), {"previous track"}},
        {"skip", {{"direction", -2.5}}, status("music", music), {"next track"}},
        {"skip", {{"direction", "-1"}}, status("music", music), {"next track"}},
        {"skip", {{"direction", -1e300}}, status("music", music), {"next track"}},
        {"seek", {}, status("music", music), {"set player position to 0.0"}},
        {"seek", {{"seconds", -3}}, status("music", music), {"set player position to 0.0"}},
        {"seek", {{"seconds", 12.5}}, status("music", music), {"set player position to 12.5"}},
        {"seek", {{"seconds", 7}}, status("music", music), {"set player position to 7.0"}},
        {"seek", {{"seconds", -0.0}}, status("music", music), {"set player position to 0.0"}},
        {"seek", {{"seconds", infinity}}, status("music", music), {"set player position to 0.0"}},
        {"seek", {{"seconds", nan}}, status("music", music), {"set player position to 0.0"}},
        {"seek", {{"seconds", "5"}}, status("music", music), {"set player position to 0.0"}},
        {"beginSeek", {}, silent, {"fast forward"}},
        {"beginSeek", {{"direction", -1}}, silent, {"rewind"}},
        {"endSeek", {}, status("music", music)},

        {"setVolume", {{"volume", 150}}, silent, {"set sound volume to 100.0"}},
        {"setVolume", {{"volume", -1}}, silent, {"set sound volume to 0.0"}},
        {"setVolume", {{"volume", 12.25}}, silent, {"set sound volume to 12.25"}},
        {"setVolume", {{"volume", -0.0}}, silent, {"set sound volume to 0.0"}},
        {"setVolume", {}, silent, {"set sound volume to 50.0"}},
        {"setVolume", {{"volume", infinity}}, silent, {"set sound volume to 50.0"}},
        {"setVolume", {{"volume", nan}}, silent, {"set sound volume to 50.0"}},
        {"setVolume", {{"volume", "70"}}, silent, {"set sound volume to 50.0"}},

        {"setPlaybackSetting",
         {{"setting", "shuffle"}, {"value", "On"}},
         silent,
         {"set shuffle enabled to true"}},
        {"setPlaybackSetting", {{"setting", "repeat"}, {"value", "One"}}, silent, {"set song repeat to one"}},
        {"setPlaybackSetting",
         {{"setting", "shuffle"}, {"value", "on"}},
         fails("Invalid parameter: setting")},
        {"setPlaybackSetting",
         {{"setting", "repeat"}, {"value", "Sometimes"}},
         fails("Invalid parameter: setting")},
        {"setPlaybackSetting", {{"setting", "shuffle"}}, fails("Invalid parameter: setting")},
        {"setPlaybackSetting", {{"setting", "volume"}, {"value", "On"}}, fails("Invalid parameter: setting")},
        {"setPlaybackSetting", {}, fails("Invalid parameter: setting")},

        {"getNowPlaying", {}, answers(toJSON(music))},
        {"setTransport", {}, status("system", system, 64.0)},
        {"setTransport", {{"transport", 1}}, status("system", system, 64.0)},
        {"setTransport", {{"transport", "music"}}, status("music", music, 64.0), {}, "system"},
        {"setTransport", {{"transport", "Music"}}, fails("Invalid parameter: transport")},
        {"getSettings", {}, answers({{"transport", "music"}, {"volume", 64.0}})},
        {"getSettings", {}, answers({{"transport", "system"}, {"volume", 64.0}}), {}, "system"},

        {"Ready", {}, fails("Unknown native method: Ready")},
        {"", {}, fails("Unknown native method: ")},
        {"get\nList\"", {}, fails("Unknown native method: get\nList\"")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.method + " " + json::serialize(c.params) + " on " + c.active);
        WorkerRig rig(StoredDefaults{{"activeTransport", c.active}});
        Outcome got;
        try {
            auto reply = rig.handle(c.method, c.params);
            got = {std::move(reply.result), std::move(reply.nowPlaying), std::nullopt};
        } catch (const std::exception &error) {
            got.error = error.what();
        }
        EXPECT_EQ(got.error, c.expected.error);
        EXPECT_EQ(got.result, c.expected.result);
        EXPECT_EQ(got.nowPlaying, c.expected.nowPlaying);
        for (const auto &fragment : c.sends)
            EXPECT_GE(rig.runner.count(fragment), 1u) << "sends " << fragment;
    }
}

TEST(MediaWorker, TheStoredTransportIsMusicOnlyWhenItSaysExactlyMusic)
{
    const std::pair<std::optional<DefaultsValue>, MediaWorker::Transport> cases[] = {
        {std::string("music"), MediaWorker::Transport::music},
        {std::string("system"), MediaWorker::Transport::system},
        {std::string("Music"), MediaWorker::Transport::system},
        {std::string("music "), MediaWorker::Transport::system},
        {1.0, MediaWorker::Transport::system},
        {std::nullopt, MediaWorker::Transport::system},
    };
    for (const auto &[stored, transport] : cases) {
        StoredDefaults defaults;
        if (stored)
            defaults.emplace("activeTransport", *stored);
        WorkerRig rig(defaults);
        EXPECT_EQ(rig.worker->activeTransport(), transport);
        EXPECT_EQ(rig.worker->currentPlaybackBackendID(),
                  transport == MediaWorker::Transport::music ? "music" : "system:music");
    }
}

TEST(MediaWorker, SwitchingTransportEndsTheOldOnesScanAndIsRemembered)
{
    WorkerRig rig(StoredDefaults{{"activeTransport", "music"}});
    rig.handle("beginSeek");
    rig.runner.fail("  resume\n", ScriptError::timedOut(), FakeScriptRunner::Uses::once);
    EXPECT_THROW(rig.handle("setTransport", {{"transport", "system"}}), ScriptError);
    EXPECT_EQ(rig.worker->activeTransport(), MediaWorker::Transport::music) << "nothing changes";
    EXPECT_EQ(rig.defaults.string("activeTransport"), "music");

    rig.runner.clearCalls();
    rig.handle("setTransport", {{"transport", "system"}});
    EXPECT_EQ(rig.runner.count("  resume\n"), 1u);
    EXPECT_FALSE(rig.worker->musicTransport().isSeeking());
    EXPECT_EQ(rig.worker->activeTransport(), MediaWorker::Transport::system);
    EXPECT_EQ(rig.defaults.string("activeTransport"), "system");
}

TEST(MediaWorker, PlayingACollectionSendsItsWindowAndTakesTheSettings)
{
    struct Case {
        const char *shuffle;
        const char *repeat;
        std::int64_t index;
        std::vector<std::string> requested; // nothing checked when empty: the rest is shuffled
    };
    // The songs list plays A4, A1, A3, A2.
    const Case cases[] = {
        {"Off", "Off", 1, {trackA1, trackA3, trackA2}},
        {"Off", "All", 1, {trackA1, trackA3, trackA2, trackA4}},
        {"Off", "One", 0, {trackA1, trackA3, trackA2}},
        {"On", "Off", 1, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.shuffle) + " " + c.repeat);
        WorkerRig rig;
        rig.handle("playCollection", play({{"path", "music/songs"},
                                           {"id", itemA1},
                                           {"shuffle", c.shuffle},
                                           {"repeat", c.repeat},
                                           {"index", c.index}}));
        auto starts = rig.runner.calls();
        auto start = std::find_if(starts.begin(), starts.end(), [](const auto &call) {
            return call.script.find(queueStartScript) != std::string::npos;
        });
        ASSERT_NE(start, starts.end());
        auto requested = requestedIDs(start->script);
        if (!c.requested.empty()) {
            EXPECT_EQ(requested, c.requested);
        } else {
            ASSERT_EQ(requested.size(), 4u);
            EXPECT_EQ(requested.front(), trackA1) << "the chosen track leads the shuffled queue";
        }
        EXPECT_EQ(rig.worker->desiredShuffleEnabled(), std::string(c.shuffle) == "On");
        EXPECT_EQ(rig.worker->desiredRepeatMode(), c.repeat);
        EXPECT_TRUE(rig.worker->musicUsesLogicalQueue());
        EXPECT_EQ(rig.worker->musicTransport().logicalQueue().canonicalIDs,
                  (std::vector<std::string>{trackA4, trackA1, trackA3, trackA2}));
    }
}

TEST(MediaWorker, AFailedPlayChangesNothing)
{
    WorkerRig rig;
    rig.handle("ready");
    auto before = rig.worker->previousNowPlaying();
    const std::function<void()> failures[] = {
        [&] {
            rig.handle(
                "playCollection",
                play({{"path", "music/songs"}, {"id", "music-track:00000000000000FF"}, {"shuffle", "On"}}));
        },
        [&] {
            rig.runner.fail(queueStartScript, ScriptError::failed("Music got an error."),
                            FakeScriptRunner::Uses::once);
            rig.handle("playCollection", play({{"path", "music/songs"}, {"id", itemA1}, {"repeat", "All"}}));
        },
        [&] {
            rig.runner.fail(trackStartScript, ScriptError::timedOut(), FakeScriptRunner::Uses::once);
            rig.handle("select", play({{"id", itemA1}, {"shuffle", "On"}}));
        },
    };
    for (const auto &failure : failures) {
        EXPECT_THROW(failure(), std::exception);
        EXPECT_FALSE(rig.worker->desiredShuffleEnabled());
        EXPECT_EQ(rig.worker->desiredRepeatMode(), "Off");
        EXPECT_EQ(rig.worker->previousNowPlaying(), before);
        EXPECT_FALSE(rig.worker->musicUsesLogicalQueue());
    }
}

TEST(MediaWorker, PlayingMusicPausesSpotifyAndResumesItWhenTheStartFails)
{
    struct Case {
        const char *what;
        bool startFails;
        const char *musicPlaysTrack;
        std::vector<std::string> spotifyCommands;
    };
    const Case cases[] = {
        {"the queue starts", false, "false", {"tell application \"Spotify\" to pause"}},
        {"the start fails",
         true,
         "false",
         {"tell application \"Spotify\" to pause", "tell application \"Spotify\" to play"}},
        {"the start fails but the track plays", true, "true", {"tell application \"Spotify\" to pause"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        WorkerRig rig;
        rig.spotifyPlays();
        rig.runner.answer("return ((persistent ID of current track", c.musicPlaysTrack);
        if (c.startFails)
            rig.runner.fail(queueStartScript, ScriptError::timedOut());
        try {
            rig.handle("playCollection", play({{"path", "music/songs"}, {"id", itemA1}}));
            EXPECT_FALSE(c.startFails);
            EXPECT_EQ(rig.worker->currentPlaybackBackendID(), "system:music");
        } catch (const ScriptError &error) {
            EXPECT_TRUE(c.startFails);
            EXPECT_STREQ(error.what(), "The music player took too long to respond.");
        }
        std::vector<std::string> sent;
        for (const auto &script : rig.runner.scripts()) {
            if (script.starts_with("tell application \"Spotify\" to "))
                sent.push_back(script);
        }
        EXPECT_EQ(sent, c.spotifyCommands);
    }
}

TEST(MediaWorker, TheLibraryIsMadeOnFirstUseAndAFreshOneIsNotReadTwice)
{
    WorkerRig rig;
    for (const char *method : {"ready", "getNowPlaying", "getSettings", "playPause", "getAbout"})
        rig.handle(method);
    EXPECT_EQ(rig.librarySourcesMade, 0);
    EXPECT_FALSE(rig.worker->hasMusicLibrary());

    rig.handle("refreshLibrary");
    EXPECT_EQ(rig.librarySourcesMade, 1);
    EXPECT_EQ(rig.librarySource->openCount(), 1) << "a provider made for the refresh has just read";
    rig.handle("getList");
    rig.handle("playCollection", play({{"path", "music/songs"}, {"id", itemA1}}));
    EXPECT_EQ(rig.librarySource->openCount(), 1);
    rig.handle("refreshLibrary");
    EXPECT_EQ(rig.librarySourcesMade, 1);
    EXPECT_EQ(rig.librarySource->openCount(), 2);

    WorkerRig playing;
    playing.handle("playCollection", play({{"path", "music/songs"}, {"id", itemA1}}));
    EXPECT_EQ(playing.librarySourcesMade, 1);
}

// The titles of a list answer's rows.
std::vector<std::string> titles(const json::value &list)
{
    std::vector<std::string> found;
    for (const auto &row : list.at("items").as_array())
        found.emplace_back(row.at("title").as_string());
    return found;
}

TEST(MediaWorker, GetListAnswersAWindowWhenAskedForOne)
{
    using Titles = std::vector<std::string>;
    struct Case {
        json::object bounds;
        std::int64_t offset;
        Titles rows; // of Four, One, Three, Two
    };
    const Case cases[] = {
        {{{"offset", 1}, {"limit", 2}}, 1, {"One", "Three"}},
        {{{"offset", 0}, {"limit", 2}}, 0, {"Four", "One"}},
        {{{"offset", 2}, {"limit", 2}}, 2, {"Three", "Two"}},
        {{{"offset", 3}, {"limit", 2}}, 3, {"Two"}},
        {{{"offset", -3}, {"limit", 2}}, 0, {"Four", "One"}},
        {{{"offset", std::numeric_limits<std::int64_t>::min()}, {"limit", 1}}, 0, {"Four"}},
        {{{"offset", 2.0}, {"limit", 1.0}}, 2, {"Three"}},
        {{{"offset", -0.0}, {"limit", 1}}, 0, {"Four"}},
        // Only one bound: the other is the first row, or the largest window.
        {{{"limit", 1}}, 0, {"Four"}},
        {{{"offset", 1}}, 1, {"One", "Three", "Two"}},
        // Past the end: no rows, from the end.
        {{{"offset", 4}, {"limit", 2}}, 4, {}},
        {{{"offset", std::numeric_limits<std::int64_t>::max()}, {"limit", 2}}, 4, {}},
        // No rows asked for, or fewer than none: the length and the sections alone.
        {{{"offset", 1}, {"limit", 0}}, 1, {}},
        {{{"offset", 1}, {"limit", -5}}, 1, {}},
    };
    WorkerRig rig;
    for (const auto &[bounds, offset, rows] : cases) {
        SCOPED_TRACE(json::serialize(bounds));
        for (const char *method : {"getList", "refreshLibrary"}) {
            auto params = bounds;
            params["path"] = "music/songs";
            auto result = *rig.handle(method, params).result;
            EXPECT_EQ(result.at("id"), json::value("music/songs"));
            EXPECT_EQ(result.at("title"), json::value("Songs"));
            EXPECT_EQ(result.at("count"), json::value(4));
            EXPECT_EQ(result.at("offset"), json::value(offset));
            EXPECT_EQ(titles(result), rows);
            EXPECT_EQ(result.at("sections"),
                      json::parse(R"([{"initial":"F","index":0},{"initial":"O","index":1},)"
                                  R"({"initial":"T","index":2}])"));
            EXPECT_TRUE(result.at("revision").is_int64());
        }
    }
}

TEST(MediaWorker, AWindowHoldsAtMostFiveHundredRows)
{
    std::string songs;
    for (int i = 0; i < 600; ++i) {
        if (i)
            songs += ',';
        songs += R"({"id": ")";
        songs += std::to_string(1000 + i);
        songs += R"(", "title": "Song", "album": {"id": "B1", "title": "Record"}})";
    }
    WorkerRig rig;
    rig.handle("getList");
    rig.librarySource->setJSON(R"({"songs": [)" + songs + "]}");
    for (auto [limit, rows] : {std::pair<std::int64_t, std::size_t>{500, 500},
                               {501, 500},
                               {std::numeric_limits<std::int64_t>::max(), 500},
                               {499, 499}}) {
        auto result =
            *rig.handle("refreshLibrary", {{"path", "music/songs"}, {"offset", 50}, {"limit", limit}}).result;
        EXPECT_EQ(result.at("items").as_array().size(), rows) << limit;
        EXPECT_EQ(result.at("count"), json::value(600));
    }
    auto rest = *rig.handle("getList", {{"path", "music/songs"}, {"offset", 550}}).result;
    EXPECT_EQ(rest.at("items").as_array().size(), 50U);
}

TEST(MediaWorker, AWindowBoundThatIsNoIntegerIsRefused)
{
    const json::value notIntegers[] = {2.5,
                                       "1",
                                       true,
                                       nullptr,
                                       json::array{1},
                                       1e300,
                                       -1e300,
                                       nan,
                                       std::numeric_limits<std::uint64_t>::max()};
    WorkerRig rig;
    rig.handle("getList");
    for (const auto &value : notIntegers) {
        SCOPED_TRACE(json::serialize(value));
        for (const char *key : {"offset", "limit"}) {
            for (const char *method : {"getList", "refreshLibrary"}) {
                json::object params{{"path", "music/songs"}, {"offset", 0}, {"limit", 10}};
                params[key] = value;
                try {
                    rig.handle(method, params);
                    ADD_FAILURE() << method << " answered";
                } catch (const WorkerError &error) {
                    EXPECT_EQ(error, WorkerError::invalidParameter(key));
                    EXPECT_EQ(std::string(error.what()), std::string("Invalid parameter: ") + key);
                }
            }
        }
    }
    EXPECT_EQ(rig.librarySource->openCount(), 1) << "a refused refresh reads nothing";
}

TEST(MediaWorker, WithoutBoundsTheWholeListComesAsBefore)
{
    WorkerRig rig;
    for (const char *method : {"getList", "refreshLibrary"}) {
        auto result = *rig.handle(method, {{"path", "music/songs"}}).result;
        std::vector<std::string> keys;
        for (const auto &entry : result.as_object())
            keys.emplace_back(entry.key());
        EXPECT_THAT(keys, ElementsAre("id", "title", "items")) << method;
        EXPECT_EQ(titles(result), (std::vector<std::string>{"Four", "One", "Three", "Two"})) << method;
    }
}

TEST(MediaWorker, AboutKeepsItsSerialAndTellsTheVersion)
{
    WorkerRig rig;
    auto first = rig.handle("getAbout").result.value().as_object();
    auto second = rig.handle("getAbout").result.value().as_object();
    EXPECT_EQ(first, second);
    EXPECT_TRUE(std::string_view(first.at("serial").as_string()).starts_with("VT"));
    EXPECT_EQ(first.at("version"), WHEELBOX_TEST_VERSION);
    EXPECT_EQ(first.at("relatedMac"), "Test Computer");
    EXPECT_EQ(first.at("capacity"), "2.0\u00A0TB");
    EXPECT_EQ(first.at("available"), "1.5\u00A0GB");
}

TEST(MediaWorker, APollPushesOnlyChanges)
{
    WorkerRig rig(StoredDefaults{{"activeTransport", "music"}});
    auto before = rig.worker->pollNowPlaying({});
    ASSERT_TRUE(before) << "nothing reported yet: the first poll pushes";
    auto expected = toJSON(WorkerRig::musicReading()).as_object();
    expected["volume"] = 64.0;
    EXPECT_EQ(*before, expected);
    EXPECT_EQ(rig.worker->pollNowPlaying({}), std::nullopt);

    rig.runner.answer(musicReadingScript, nowPlayingReply(trackA1, 31, 100, "playing"));
    auto changed = rig.worker->pollNowPlaying({});
    ASSERT_TRUE(changed);
    EXPECT_EQ(changed->at("elapsed"), 31.0);
    EXPECT_FALSE(changed->as_object().contains("volume")) << "the back end is the same";
    EXPECT_EQ(rig.worker->pollNowPlaying({}), std::nullopt);

    // A status step reports the reading too: the poll after it has nothing new.
    rig.runner.answer(musicReadingScript, nowPlayingReply(trackA1, 32, 100, "paused"));
    rig.handle("pause");
    EXPECT_EQ(rig.worker->pollNowPlaying({}), std::nullopt);
    // "getNowPlaying" stores the reading but not the back end.
    rig.runner.answer(musicReadingScript, nowPlayingReply(trackA1, 33, 100, "paused"));
    rig.handle("getNowPlaying");
    EXPECT_EQ(rig.worker->pollNowPlaying({}), std::nullopt);
}

class MediaWorkerBackEndChange : public ::testing::Test {
  protected:
    // The user chose shuffle and a repeat while the music app played; then Spotify takes over.
    void spotifyTakesOver(const char *repeat)
    {
        rig.handle("select", play({{"id", itemA1}, {"shuffle", "On"}, {"repeat", repeat}}));
        rig.handle("ready");
        ASSERT_EQ(rig.worker->currentPlaybackBackendID(), "system:music");
        rig.runner.answer(musicReadingScript, nowPlayingReply(trackA1, 30, 100, "paused"));
        rig.spotifyPlays();
        rig.runner.answer(spotifyVolumeScript, "80");
        rig.clock.advance(2s);
        rig.runner.clearCalls();
    }

    std::vector<std::string> spotifySettings()
    {
        std::vector<std::string> sent;
        for (const auto &script : rig.runner.scripts()) {
            if (script.find("set shuffling") != std::string::npos ||
                script.find("set repeating") != std::string::npos)
                sent.push_back(script);
        }
        return sent;
    }

    WorkerRig rig;
};

TEST_F(MediaWorkerBackEndChange, TheNewPlayerGetsTheUsersShuffleAndRepeat)
{
    spotifyTakesOver("All");
    auto payload = rig.worker->pollNowPlaying({});
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->at("persistentID"), spotifyURL);
    EXPECT_EQ(payload->at("volume"), 80.0);
    EXPECT_FALSE(payload->as_object().contains("repeat"));
    EXPECT_THAT(spotifySettings(), ElementsAre("tell application \"Spotify\" to set shuffling to true",
                                               "tell application \"Spotify\" to set repeating to true"));
    EXPECT_EQ(rig.worker->previousPlaybackBackendID(), "system:spotify");
    rig.runner.clearCalls();
    EXPECT_EQ(rig.worker->pollNowPlaying({}), std::nullopt);
    EXPECT_TRUE(spotifySettings().empty());
}

TEST_F(MediaWorkerBackEndChange, RepeatOneFallsBackToOffOnSpotify)
{
    spotifyTakesOver("One");
    auto payload = rig.worker->pollNowPlaying({});
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->at("repeat"), "Off");
    EXPECT_EQ(payload->at("volume"), 80.0);
    EXPECT_EQ(rig.worker->desiredRepeatMode(), "Off");
    EXPECT_EQ(rig.worker->previousPlaybackBackendID(), "system:spotify");
    EXPECT_THAT(spotifySettings(), ElementsAre("tell application \"Spotify\" to set shuffling to true",
                                               "tell application \"Spotify\" to set repeating to false"));
}

TEST_F(MediaWorkerBackEndChange, AFailedHandOverIsTriedAgainOnTheNextPoll)
{
    spotifyTakesOver("All");
    rig.runner.fail("set shuffling", ScriptError::timedOut(), FakeScriptRunner::Uses::once);
    auto payload = rig.worker->pollNowPlaying({});
    ASSERT_TRUE(payload) << "the reading is pushed all the same";
    EXPECT_EQ(payload->at("volume"), 80.0);
    EXPECT_EQ(rig.worker->previousPlaybackBackendID(), "system:music");

    rig.runner.clearCalls();
    auto again = rig.worker->pollNowPlaying({});
    ASSERT_TRUE(again) << "same reading, but the back end still counts as new";
    EXPECT_THAT(spotifySettings(), ElementsAre("tell application \"Spotify\" to set shuffling to true",
                                               "tell application \"Spotify\" to set repeating to true"));
    EXPECT_EQ(rig.worker->previousPlaybackBackendID(), "system:spotify");
}

TEST(MediaWorker, TheMusicTransportTakesNoSettingsWhenItsBackEndIsNew)
{
    WorkerRig rig(StoredDefaults{{"activeTransport", "music"}});
    rig.handle("setPlaybackSetting", {{"setting", "shuffle"}, {"value", "On"}});
    rig.runner.clearCalls();
    ASSERT_TRUE(rig.worker->pollNowPlaying({}));
    EXPECT_EQ(rig.runner.count("set shuffle enabled"), 0u);
    EXPECT_EQ(rig.worker->previousPlaybackBackendID(), "music");
}

TEST(MediaWorker, SessionCleanUpEndsBothScansWhateverFails)
{
    WorkerRig rig;
    rig.runner.answer(musicReadingScript, nowPlayingReply(trackA1, 30, 100, "paused"));
    rig.spotifyPlays();
    rig.handle("getNowPlaying");
    ASSERT_EQ(rig.worker->currentPlaybackBackendID(), "system:spotify");
    rig.handle("beginSeek");
    ASSERT_TRUE(rig.worker->systemTransport().hasSpotifyScan());
    rig.worker->musicTransport().beginSeek(1);
    rig.runner.stopSucceeds = false;
    rig.worker->endScans();
    EXPECT_TRUE(rig.worker->systemTransport().hasSpotifyScan()) << "the scan that would not stop";
    EXPECT_FALSE(rig.worker->musicTransport().isSeeking()) << "the music scan ended all the same";

    rig.runner.stopSucceeds = true;
    rig.worker->endScans();
    EXPECT_FALSE(rig.worker->systemTransport().hasSpotifyScan());
}

TEST(MediaWorker, TheLightPollReadsTheMusicTransport)
{
    WorkerRig rig;
    EXPECT_FALSE(rig.worker->musicUsesLogicalQueue());
    rig.handle("playCollection", play({{"path", "music/songs"}, {"id", itemA1}}));
    EXPECT_TRUE(rig.worker->musicUsesLogicalQueue());
    rig.runner.clearCalls();
    rig.worker->readMusicNowPlaying({});
    EXPECT_EQ(rig.runner.count(musicReadingScript), 1u);
    EXPECT_EQ(rig.runner.calls().size(), 1u);
}

// The bridge cancels a poll's scripts through the worker alone, so every script a poll runs must
// be marked as that poll's, and no request's script as a poll's.
TEST(MediaWorker, PollsRunTheirScriptsUnderTheirTicketAndCancellationsReachTheRunner)
{
    WorkerRig rig(StoredDefaults{{"activeTransport", "music"}});
    rig.handle("playCollection", play({{"path", "music/songs"}, {"id", itemA1}}));
    auto ticket = rig.worker->issuePollTicket();
    rig.worker->cancelPolls();
    EXPECT_NE(rig.worker->issuePollTicket(), ticket) << "a cancelled ticket is never issued again";

    rig.runner.clearCalls();
    rig.worker->pollNowPlaying(ticket);
    rig.worker->readMusicNowPlaying(PollTicket{ticket.generation + 7});
    rig.handle("getNowPlaying");
    auto calls = rig.runner.calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front().poll, ticket.generation);
    EXPECT_EQ(calls[calls.size() - 2].poll, ticket.generation + 7);
    EXPECT_EQ(calls.back().poll, std::nullopt);

    auto requests = rig.runner.requestCancellations();
    rig.worker->cancelRequests();
    rig.worker->cancelAllScripts();
    EXPECT_EQ(rig.runner.requestCancellations(), requests + 2);
    EXPECT_EQ(rig.worker->issuePollTicket().generation, ticket.generation + 2);
}

} // namespace
} // namespace wheelbox::test
