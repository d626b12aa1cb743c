// The music transport's plain controls and its now-playing read, against a fake script runner.
#include "MusicAppFixture.hpp"
#include "osascript/ScriptFixtures.hpp"
#include "transport/ScriptError.hpp"
#include "transport/TransportError.hpp"

#include <gmock/gmock.h>

#include <functional>
#include <map>

namespace wheelbox::test {
namespace {

using musicScripts::PauseAfterStart;
using osascript::test::fill;
using osascript::test::loadScript;
using Slots = std::map<std::string, std::string>;

std::string settings(const std::string &volume, const std::string &repeat)
{
    return "set sound volume to " + volume + "\nset shuffle enabled to false\nset song repeat to " + repeat;
}

class MusicAppTransportTest : public MusicAppFixture {};

// Every script is the exact text that the script tool's own tests run (tests/osascript/scripts),
// with values escaped and numbers written as reals.
TEST_F(MusicAppTransportTest, SendsTheScriptsTheToolRuns)
{
    struct Case {
        const char *what;
        std::function<void(MusicAppTransport &)> act;
        const char *fixture;
        Slots slots;
        int timeout;
    };
    const std::string trickyID = "A\"B\\C";
    const Case cases[] = {
        {"now playing", [](auto &t) { t.nowPlaying(); }, "music-now-playing", {}, 2},
        {"play/pause", [](auto &t) { t.playPause(); }, "music-playpause", {}, 8},
        {"pause", [](auto &t) { t.pause(); }, "music-pause", {}, 8},
        {"skip back", [](auto &t) { t.skip(-1); }, "music-skip", {{"step", "previous track"}}, 8},
        {"skip 0 goes forward", [](auto &t) { t.skip(0); }, "music-skip", {{"step", "next track"}}, 8},
        {"seek to a whole second", [](auto &t) { t.seek(42); }, "music-seek", {{"position", "42.0"}}, 8},
        {"seek before the start", [](auto &t) { t.seek(-5); }, "music-seek", {{"position", "0.0"}}, 8},
        {"seek to a fraction", [](auto &t) { t.seek(0.49); }, "music-seek", {{"position", "0.49"}}, 8},
        {"rewind", [](auto &t) { t.beginSeek(-1); }, "music-begin-seek", {{"scan", "rewind"}}, 8},
        {"fast forward", [](auto &t) { t.beginSeek(0); }, "music-begin-seek", {{"scan", "fast forward"}}, 8},
        {"volume", [](auto &t) { t.volume(); }, "music-volume", {}, 3},
        {"volume above 100", [](auto &t) { t.setVolume(150); }, "music-set-volume", {{"volume", "100.0"}}, 8},
        {"volume below 0", [](auto &t) { t.setVolume(-3); }, "music-set-volume", {{"volume", "0.0"}}, 8},
        {"shuffle", [](auto &t) { t.setShuffle(true); }, "music-set-shuffle", {{"enabled", "true"}}, 8},
        {"repeat one", [](auto &t) { t.setRepeat("One"); }, "music-set-repeat", {{"repeat", "one"}}, 8},
        {"repeat all", [](auto &t) { t.setRepeat("All"); }, "music-set-repeat", {{"repeat", "all"}}, 8},
        {"an unknown repeat is off",
         [](auto &t) { t.setRepeat("Sometimes"); },
         "music-set-repeat",
         {{"repeat", "off"}},
         8},
        {"is playing a track",
         [&](auto &t) { t.isPlayingTrack(trickyID); },
         "music-is-playing-track",
         {{"trackID", "A\\\"B\\\\C"}},
         2},
        {"play a track with settings, paused",
         [](auto &t) { t.playTrack("00000000000000AB", 42, "All", PauseAfterStart::yes); },
         "music-play-track",
         {{"trackID", "00000000000000AB"},
          {"settings", settings("42.0", "all")},
          {"pauseAfterStart", "pause"}},
         12},
        {"play a track without settings",
         [&](auto &t) { t.playTrack(trickyID, 42, std::nullopt, PauseAfterStart::no); },
         "music-play-track",
         {{"trackID", "A\\\"B\\\\C"}, {"settings", ""}, {"pauseAfterStart", ""}},
         12},
        {"play an item",
         [](auto &t) { t.playItem("music-track:00000000000000AB", true, "One", 120.5); },
         "music-play-track",
         {{"trackID", "00000000000000AB"}, {"settings", settings("100.0", "one")}, {"pauseAfterStart", ""}},
         12},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        makeTransport();
        runner.clearCalls();
        c.act(*transport);
        auto calls = runner.calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].script, fill(loadScript(c.fixture), c.slots));
        EXPECT_EQ(calls[0].timeoutSeconds, c.timeout);
    }
}

TEST_F(MusicAppTransportTest, EndSeekResumesAsTheScanFoundThePlayer)
{
    struct Case {
        const char *what;
        std::optional<std::string> beginReply;
        const char *fixture;
    };
    const Case cases[] = {
        {"was playing", "true", "music-end-seek-playing"},
        {"any case of true", "TRUE", "music-end-seek-playing"},
        {"was paused", "false", "music-end-seek-paused"},
        {"no answer counts as paused", std::nullopt, "music-end-seek-paused"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        makeTransport();
        runner.answer("set wasPlaying", c.beginReply, FakeScriptRunner::Uses::once);
        transport->beginSeek(1);
        runner.clearCalls();
        transport->endSeek();
        EXPECT_THAT(runner.scripts(), ::testing::ElementsAre(fill(loadScript(c.fixture), {})));
        EXPECT_FALSE(transport->isSeeking());
        runner.clearCalls();
        transport->endSeek();
        EXPECT_TRUE(runner.scripts().empty()) << "a second end has nothing to end";
    }
}

TEST_F(MusicAppTransportTest, AFailedScanStartOrEndKeepsTheScanToEndLater)
{
    runner.fail("set wasPlaying", ScriptError::timedOut(), FakeScriptRunner::Uses::once);
    EXPECT_THROW(transport->beginSeek(1), ScriptError);
    EXPECT_TRUE(transport->isSeeking());

    runner.fail("resume", ScriptError::failed("no"), FakeScriptRunner::Uses::once);
    EXPECT_THROW(transport->endSeek(), ScriptError);
    EXPECT_TRUE(transport->isSeeking());

    applications.musicRuns = false;
    runner.clearCalls();
    EXPECT_NO_THROW(transport->endSeek());
    EXPECT_FALSE(transport->isSeeking());
    EXPECT_TRUE(runner.scripts().empty());
}

TEST_F(MusicAppTransportTest, WithoutTheMusicAppCommandsFailAndReadsFallBackWithoutAScript)
{
    appPlays("00000000000000A1", 12, 100);
    auto before = transport->nowPlaying();
    ASSERT_TRUE(before.isPlaying);
    transport->beginSeek(1);
    applications.musicRuns = false;
    runner.clearCalls();

    const std::pair<const char *, std::function<void(MusicAppTransport &)>> commands[] = {
        {"playPause",
         [](auto &t) {
             t.playPause();
         }},
        {"pause",
         [](auto &t) {
             t.pause();
         }},
        {"skip",
         [](auto &t) {
             t.skip(1);
         }},
        {"seek",
         [](auto &t) {
             t.seek(3);
         }},
        {"beginSeek",
         [](auto &t) {
             t.beginSeek(-1);
         }},
        {"setVolume",
         [](auto &t) {
             t.setVolume(3);
         }},
        {"setShuffle",
         [](auto &t) {
             t.setShuffle(true);
         }},
        {"setRepeat",
         [](auto &t) {
             t.setRepeat("All");
         }},
    };
    for (const auto &[what, act] : commands) {
        SCOPED_TRACE(what);
        try {
            act(*transport);
            ADD_FAILURE() << "no error";
        } catch (const TransportError &error) {
            EXPECT_EQ(error, TransportError::playerUnavailable("Music"));
            EXPECT_STREQ(error.what(), "Music is not running.");
        }
    }

    auto after = transport->nowPlaying();
    EXPECT_FALSE(after.isPlaying);
    after.isPlaying = true;
    EXPECT_EQ(after, before) << "the last reading, only marked not playing";
    EXPECT_EQ(transport->volume(), std::nullopt);
    EXPECT_FALSE(transport->isPlayingTrack("00000000000000A1"));
    transport->endSeek();
    EXPECT_FALSE(transport->isSeeking());
    EXPECT_TRUE(runner.scripts().empty());
}

TEST_F(MusicAppTransportTest, NowPlayingReadsTheSevenFields)
{
    struct Case {
        const char *what;
        std::optional<std::string> output;
        std::optional<NowPlayingState> expected; // nothing: the previous reading comes back
    };
    auto state = [](std::optional<std::string> album, double elapsed, double duration, bool playing) {
        NowPlayingState s;
        s.source = "music";
        s.persistentID = "00000000000000B2";
        s.title = "Ωmega — 東京";
        s.artist = "Ärtist";
        s.album = std::move(album);
        s.elapsed = elapsed;
        s.duration = duration;
        s.isPlaying = playing;
        return s;
    };
    auto reply = [](std::string album, std::string position, std::string duration, std::string playerState) {
        return joined({"00000000000000B2", "Ωmega — 東京", "Ärtist", album, position, duration, playerState},
                      unitSeparator);
    };
    const Case cases[] = {
        {"all fields", reply("Album", "12.5", "200.0", "playing"), state("Album", 12.5, 200, true)},
        {"an empty album is none", reply("", "3", "200", "paused"), state(std::nullopt, 3, 200, false)},
        {"unparsable numbers are 0", reply("A", "12,5", "missing value", "stopped"), state("A", 0, 0, false)},
        {"numbers with trailing text are 0", reply("A", "12.5s", "1e400", "playing"), state("A", 0, 0, true)},
        {"the state in any case", reply("A", "1.0E+1", "-0.0", "PLAYING"), state("A", 10, 0, true)},
        {"fewer than seven fields", joined({"00000000000000B2", "T", "A", "B", "1", "2"}, unitSeparator),
         NowPlayingState::empty()},
        {"no output", std::nullopt, std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        makeTransport();
        appPlays("00000000000000A1", 5, 100);
        auto previous = transport->nowPlaying();
        runner.answer(nowPlayingScript, c.output);
        EXPECT_EQ(transport->nowPlaying(), c.expected.value_or(previous));
        // Only a full reading replaces the stored one.
        auto stored = c.expected && c.expected->source == "music" ? *c.expected : previous;
        EXPECT_EQ(transport->lastLoaded(), stored);
    }
}

TEST_F(MusicAppTransportTest, AFailedReadAnswersTheLastReading)
{
    appPlays("00000000000000A1", 5, 100);
    auto previous = transport->nowPlaying();
    for (auto error : {ScriptError::failed("Music got an error: Can’t get current track."),
                       ScriptError::cancelled(), ScriptError::timedOut()}) {
        SCOPED_TRACE(error.what());
        runner.fail(nowPlayingScript, error, FakeScriptRunner::Uses::once);
        EXPECT_EQ(transport->nowPlaying(), previous);
    }
}

TEST_F(MusicAppTransportTest, VolumeIsTheWholeReplyAsANumber)
{
    const std::pair<std::optional<std::string>, std::optional<double>> cases[] = {
        {"42", 42.0},          {"0.5", 0.5},
        {"", std::nullopt},    {std::nullopt, std::nullopt},
        {"42 ", std::nullopt}, {"missing value", std::nullopt},
    };
    for (const auto &[output, expected] : cases) {
        SCOPED_TRACE(output.value_or("(none)"));
        runner.answer(volumeScript, output);
        EXPECT_EQ(transport->volume(), expected);
    }
    runner.fail(volumeScript, ScriptError::timedOut());
    EXPECT_EQ(transport->volume(), std::nullopt);
}

TEST_F(MusicAppTransportTest, IsPlayingTrackOnlyOnTrue)
{
    const std::pair<std::optional<std::string>, bool> cases[] = {
        {"true", true}, {"True", true}, {"false", false}, {std::nullopt, false}, {"true\x1f", false}};
    for (const auto &[output, expected] : cases) {
        runner.answer("if player state is not playing", output);
        EXPECT_EQ(transport->isPlayingTrack("00000000000000A1"), expected);
    }
    runner.fail("if player state is not playing", ScriptError::failed("x"));
    EXPECT_FALSE(transport->isPlayingTrack("00000000000000A1"));
}

TEST_F(MusicAppTransportTest, ATrackThatCannotStartIsUnavailable)
{
    struct Case {
        const char *what;
        ScriptError error;
        bool unavailable;
    };
    const Case cases[] = {
        {"not in the library", ScriptError::failed("Song is not in the Music library."), true},
        {"did not start",
         ScriptError::failed("Music can't play this song. Open Music and check Account sign-in."), true},
        {"another failure", ScriptError::failed("Music got an error: Connection refused."), false},
        {"a timeout", ScriptError::timedOut(), false},
        {"a cancellation", ScriptError::cancelled(), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        runner.fail(trackStartScript, c.error, FakeScriptRunner::Uses::once);
        try {
            transport->playTrack("00000000000000C3", 50, std::nullopt, PauseAfterStart::no);
            ADD_FAILURE() << "no error";
        } catch (const TransportError &error) {
            EXPECT_TRUE(c.unavailable);
            EXPECT_EQ(error, TransportError::unavailableItem("00000000000000C3"));
            EXPECT_STREQ(error.what(), "Music can’t play this song right now.");
        } catch (const ScriptError &error) {
            EXPECT_FALSE(c.unavailable);
            EXPECT_EQ(error.kind(), c.error.kind());
            EXPECT_STREQ(error.what(), c.error.what());
        }
    }
}

TEST_F(MusicAppTransportTest, PlayItemMakesAOneTrackQueue)
{
    for (const char *item : {"spotify:track:1", "music-track", "", "MUSIC-TRACK:00000000000000AB"}) {
        SCOPED_TRACE(item);
        try {
            transport->playItem(item, false, "Off", 50);
            ADD_FAILURE() << "no error";
        } catch (const TransportError &error) {
            EXPECT_EQ(error.what(), "This transport cannot play " + std::string(item) + ".");
        }
    }
    EXPECT_TRUE(runner.scripts().empty());

    transport->playItem("music-track:00000000000000AB", true, "All", 50);
    EXPECT_FALSE(transport->usesLogicalQueue());
    EXPECT_TRUE(transport->logicalShuffleEnabled());
    EXPECT_EQ(transport->repeatMode(), "All");
    appPlays("00000000000000AB", 1, 100);
    auto state = transport->nowPlaying();
    EXPECT_EQ(state.queuePosition, 1);
    EXPECT_EQ(state.queueCount, 1);

    // Outside a followed queue skip is the app's own, and the position stays inside the queue.
    runner.clearCalls();
    transport->skip(-1);
    EXPECT_EQ(runner.count("previous track"), 1u);
    EXPECT_EQ(transport->logicalQueue().index, 0u);

    // Once another track plays, the one-track queue no longer shows.
    appPlays("00000000000000CD", 1, 100);
    state = transport->nowPlaying();
    EXPECT_EQ(state.queuePosition, std::nullopt);
    EXPECT_EQ(state.queueCount, std::nullopt);
}

TEST_F(MusicAppTransportTest, SettingsRememberWhatTheDeviceAsked)
{
    transport->setRepeat("One");
    runner.clearCalls();
    transport->setRepeat("One");
    EXPECT_TRUE(runner.scripts().empty()) << "the same mode sends nothing";
    EXPECT_EQ(transport->repeatMode(), "One");

    runner.fail("set shuffle enabled", ScriptError::failed("no"), FakeScriptRunner::Uses::once);
    EXPECT_THROW(transport->setShuffle(true), ScriptError);
    EXPECT_FALSE(transport->logicalShuffleEnabled());
    transport->setShuffle(true);
    EXPECT_TRUE(transport->logicalShuffleEnabled());
}

TEST(TransportErrorTest, DescriptionsAreTheDevicesTexts)
{
    EXPECT_STREQ(TransportError::invalidItem("x:1").what(), "This transport cannot play x:1.");
    EXPECT_STREQ(TransportError::unavailableItem("00000000000000AB").what(),
                 "Music can’t play this song right now.");
    EXPECT_STREQ(TransportError::unavailableItem("").what(), "Music can’t play this song right now.");
    EXPECT_STREQ(TransportError::playerUnavailable("Spotify").what(), "Spotify is not running.");
    EXPECT_STREQ(TransportError::unsupportedSetting("Spotify can’t repeat one song.").what(),
                 "Spotify can’t repeat one song.");
    EXPECT_EQ(TransportError::unavailableItem("A").payload(), "A");
}

} // namespace
} // namespace wheelbox::test
