// The system transport against a fake script runner: which player it follows, what it sends to
// Spotify, and the Spotify scan's life.
#include "transport/SystemNowPlayingTransport.hpp"
#include "MusicAppFixture.hpp"
#include "osascript/ScriptFixtures.hpp"
#include "support/NowPlayingPrinter.hpp"
#include "transport/ScriptError.hpp"
#include "transport/SpotifyScripts.hpp"
#include "transport/TransportError.hpp"

#include <gmock/gmock.h>

#include <functional>
#include <map>
#include <sstream>

namespace wheelbox::test {
namespace {

using namespace std::chrono_literals;
using osascript::test::fill;
using osascript::test::loadScript;
using Player = SystemNowPlayingTransport::Player;
using Slots = std::map<std::string, std::string>;
using ::testing::ElementsAre;

// Fragments that tell the two readings and the scan apart.
constexpr const char *spotifyReading = "(spotify url of t as text) & unitSeparator";
constexpr const char *musicReading = "(persistent ID of t as text) & unitSeparator";
constexpr const char *spotifyURL = "https://open.spotify.com/track/4uLU6hMCjMI75M1A2tKUQC";
constexpr const char *musicTrack = "00000000000000A1";

std::string spotifyReply(const std::string &url, const std::string &state,
                         const std::string &position = "12.5")
{
    return joined({url, "Song", "Artist", "Album", position, "200.0", state}, unitSeparator);
}

// One line of the file of one-line Spotify commands, its ⟦word⟧ filled.
std::string spotifyCommand(int line, const std::string &word = "")
{
    std::istringstream lines(loadScript("spotify-commands"));
    std::string text;
    for (int i = 0; i <= line; ++i)
        std::getline(lines, text);
    return word.empty() ? text : fill(text, {{"word", word}});
}

NowPlayingState spotifyState(bool playing)
{
    NowPlayingState state;
    state.source = "system";
    state.persistentID = spotifyURL;
    state.title = "Song";
    state.artist = "Artist";
    state.album = "Album";
    state.elapsed = 12.5;
    state.duration = 200;
    state.isPlaying = playing;
    return state;
}

// Both transports over one fake runner: the music app and Spotify answer as each test sets them up.
struct Players {
    FakeScriptRunner runner;
    FakeRunningApplications applications;
    InMemoryUserDefaults defaults;
    ManualClock clock;
    SeededRandomSource random{7};
    MusicAppTransport music{runner, applications, defaults, clock, random};
    SystemNowPlayingTransport system{music, runner, applications, clock};
};

class SystemTransportTest : public ::testing::Test {
  protected:
    // A fresh pair of transports and players, for each case of a table.
    void reset() { players = std::make_unique<Players>(); }

    FakeScriptRunner &runner() { return players->runner; }
    FakeRunningApplications &applications() { return players->applications; }
    ManualClock &clock() { return players->clock; }
    MusicAppTransport &music() { return players->music; }
    SystemNowPlayingTransport &system() { return players->system; }

    void spotifyPlays(const std::string &state = "playing")
    {
        applications().spotifyRuns = true;
        runner().answer(spotifyReading, spotifyReply(spotifyURL, state));
    }

    void musicPlays(const std::string &state = "playing")
    {
        runner().answer(musicReading, nowPlayingReply(musicTrack, 30, 100, state));
    }

    // Spotify plays while the music app has nothing: the first reading follows Spotify.
    void followSpotify()
    {
        spotifyPlays();
        system().nowPlaying();
        ASSERT_EQ(system().preferredPlayer(), Player::spotify);
        runner().clearCalls();
    }

    std::size_t spotifyReads() { return runner().count(spotifyReading); }
    std::size_t musicReads() { return runner().count(musicReading); }

    std::unique_ptr<Players> players = std::make_unique<Players>();
};

TEST_F(SystemTransportTest, SendsSpotifyTheScriptsTheToolRuns)
{
    struct Case {
        const char *what;
        std::function<void(SystemNowPlayingTransport &)> act;
        std::string script;
        int timeout;
        bool started = false;
    };
    const std::string trickyURL = "spotify:track:\"quoted\"\\slash";
    auto scan = [](const std::string &uri, const char *sign) {
        return fill(loadScript("spotify-scan"),
                    {{"startingURI", osascript::test::quote(uri)}, {"sign", sign}});
    };
    const Case cases[] = {
        {"reading", [](auto &t) { t.nowPlaying(); }, loadScript("spotify-now-playing"), 2},
        {"play/pause", [](auto &t) { t.playPause(); }, spotifyCommand(0), 8},
        {"pause", [](auto &t) { t.pause(); }, spotifyCommand(1), 8},
        {"skip back", [](auto &t) { t.skip(-1); }, spotifyCommand(3, "previous track"), 8},
        {"skip 0 goes forward", [](auto &t) { t.skip(0); }, spotifyCommand(3, "next track"), 8},
        {"seek to a whole second", [](auto &t) { t.seek(42); }, spotifyCommand(4, "42.0"), 8},
        {"seek to a fraction", [](auto &t) { t.seek(0.49); }, spotifyCommand(4, "0.49"), 8},
        {"seek is not clamped", [](auto &t) { t.seek(-3); }, spotifyCommand(4, "-3.0"), 8},
        {"volume above 100", [](auto &t) { t.setVolume(150); }, spotifyCommand(5, "100.0"), 8},
        {"volume below 0", [](auto &t) { t.setVolume(-5); }, spotifyCommand(5, "0.0"), 8},
        {"shuffle on", [](auto &t) { t.setShuffle(true); }, spotifyCommand(6, "true"), 8},
        {"shuffle off", [](auto &t) { t.setShuffle(false); }, spotifyCommand(6, "false"), 8},
        {"repeat all", [](auto &t) { t.setRepeat("All"); }, spotifyCommand(7, "true"), 8},
        {"repeat off", [](auto &t) { t.setRepeat("Off"); }, spotifyCommand(7, "false"), 8},
        {"volume", [](auto &t) { t.volume(); }, spotifyCommand(9), 3},
        {"fast forward", [](auto &t) { t.beginSeek(1); }, scan(spotifyURL, "1"), 95, true},
        {"scan from 0 goes forward", [](auto &t) { t.beginSeek(0); }, scan(spotifyURL, "1"), 95, true},
        {"rewind", [](auto &t) { t.beginSeek(-4); }, scan(spotifyURL, "-1"), 95, true},
        {"a URI with quotes and backslashes",
         [&](auto &t) {
             runner().answer(spotifyReading, spotifyReply(trickyURL, "playing"));
             t.beginSeek(1);
         },
         scan(trickyURL, "1"), 95, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        followSpotify();
        c.act(system());
        auto calls = runner().calls();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().script, c.script);
        EXPECT_EQ(calls.back().timeoutSeconds, c.timeout);
        EXPECT_EQ(calls.back().started, c.started);
        EXPECT_EQ(musicReads(), 0u) << "a fresh resolution is not made again";
    }
}

TEST_F(SystemTransportTest, ReadsSpotifysSevenFields)
{
    struct Case {
        const char *what;
        std::string reply;
        std::optional<NowPlayingState> expected;
    };
    auto state = [](std::optional<std::string> album, double elapsed, double duration, bool playing) {
        auto s = spotifyState(playing);
        s.album = std::move(album);
        s.elapsed = elapsed;
        s.duration = duration;
        return s;
    };
    auto reply = [](std::string album, std::string position, std::string duration, std::string playerState) {
        return joined({spotifyURL, "Song", "Artist", album, position, duration, playerState}, unitSeparator);
    };
    NowPlayingState withoutURL = spotifyState(false);
    withoutURL.persistentID = "";
    const Case cases[] = {
        {"all fields", reply("Album", "12.5", "200.0", "playing"), state("Album", 12.5, 200, true)},
        {"paused", reply("Album", "12.5", "200.0", "paused"), state("Album", 12.5, 200, false)},
        {"only the exact word plays", reply("Album", "12.5", "200.0", "Playing"),
         state("Album", 12.5, 200, false)},
        {"an empty album is none", reply("", "3", "200", "paused"), state(std::nullopt, 3, 200, false)},
        {"a decimal comma is 0", reply("Album", "12,5", "200.0", "playing"), state("Album", 0, 200, true)},
        {"a leading blank is 0", reply("Album", " 12.5", "1e400", "playing"), state("Album", 0, 0, true)},
        {"an exponent reads", reply("Album", "1.0E+1", "2.0E+2", "playing"), state("Album", 10, 200, true)},
        {"an empty URL is kept",
         joined({"", "Song", "Artist", "Album", "12.5", "200.0", "paused"}, unitSeparator), withoutURL},
        {"fields past the seventh are ignored", reply("Album", "12.5", "200.0", "playing") + "\x1fmore\x1f",
         state("Album", 12.5, 200, true)},
        {"six fields are no reading",
         joined({spotifyURL, "Song", "Artist", "Album", "1", "2"}, unitSeparator), std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(spotifyScripts::parseNowPlaying(c.reply), c.expected);
    }
}

TEST_F(SystemTransportTest, AFailedOrEmptySpotifyAnswerKeepsTheLastReadingPaused)
{
    followSpotify();
    ASSERT_EQ(system().lastSpotify(), spotifyState(true));

    struct Step {
        const char *what;
        std::function<void()> answer;
        std::optional<NowPlayingState> lastSpotify;
    };
    const Step steps[] = {
        {"an empty answer", [&] { runner().answer(spotifyReading, std::nullopt); }, spotifyState(false)},
        {"six fields leave it alone",
         [&] {
             runner().answer(spotifyReading, joined({"other", "S", "A", "B", "1", "2"}, unitSeparator));
         },
         spotifyState(false)},
        {"a failed run", [&] { runner().fail(spotifyReading, ScriptError::timedOut()); },
         spotifyState(false)},
        {"Spotify gone: no script, nothing changes", [&] { applications().spotifyRuns = false; },
         spotifyState(false)},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.what);
        step.answer();
        system().nowPlaying();
        EXPECT_EQ(system().lastSpotify(), step.lastSpotify);
    }
    EXPECT_EQ(spotifyReads(), 3u) << "no reading while Spotify does not run";
}

TEST_F(SystemTransportTest, FollowingMusicTheIdleAppIsLeftForSpotifyOnlyWhenAProbeIsDue)
{
    // Right after creation the probe is due at once.
    spotifyPlays("paused");
    EXPECT_EQ(system().nowPlaying(), spotifyState(false)) << "Music has nothing, Spotify has a track";
    EXPECT_EQ(system().preferredPlayer(), Player::spotify);

    // Back to the music app, which now has a paused track; Spotify starts playing.
    reset();
    musicPlays("paused");
    spotifyPlays("paused");
    auto first = system().nowPlaying();
    EXPECT_EQ(first.persistentID, musicTrack);
    EXPECT_EQ(first.source, "system");
    EXPECT_EQ(system().preferredPlayer(), Player::music);
    EXPECT_EQ(spotifyReads(), 1u);

    spotifyPlays("playing");
    clock().advance(1999ms);
    EXPECT_EQ(system().nowPlaying().persistentID, musicTrack) << "within 2 s the idle music reading stays";
    EXPECT_EQ(spotifyReads(), 1u);
    clock().advance(1ms);
    EXPECT_EQ(system().nowPlaying(), spotifyState(true)) << "the due probe finds Spotify playing";
    EXPECT_EQ(system().preferredPlayer(), Player::spotify);
}

TEST_F(SystemTransportTest, FollowingMusicWithNothingLoadedShowsTheStoredSpotifyReadingBetweenProbes)
{
    followSpotify();
    musicPlays("playing");
    clock().advance(2s);
    EXPECT_EQ(system().nowPlaying(), spotifyState(true)) << "Spotify still plays: no probe of Music";
    spotifyPlays("paused");
    system().nowPlaying();
    EXPECT_EQ(system().preferredPlayer(), Player::music) << "the due probe finds the music app playing";

    // The music app's reading goes empty (it has no track); Spotify is no longer asked until the
    // next probe, and its stored reading stands in.
    runner().answer(musicReading, joined({"", "", "", "", "", ""}, unitSeparator));
    runner().clearCalls();
    clock().advance(1s);
    EXPECT_EQ(system().nowPlaying(), spotifyState(false));
    EXPECT_EQ(spotifyReads(), 0u);
}

TEST_F(SystemTransportTest, FollowingSpotifyTheProbeFindsTheMusicApp)
{
    struct Case {
        const char *what;
        std::optional<std::string> musicState; // nothing: the app has no track
        bool spotifyRuns;
        Player follows;
        std::string source;
    };
    const Case cases[] = {
        {"music plays", "playing", true, Player::music, "system"},
        {"music paused, Spotify paused", "paused", true, Player::spotify, "system"},
        {"music paused, Spotify gone", "paused", false, Player::music, "system"},
        {"nothing anywhere", std::nullopt, false, Player::spotify, "none"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        followSpotify();
        spotifyPlays("paused");
        applications().spotifyRuns = c.spotifyRuns;
        if (c.musicState)
            musicPlays(*c.musicState);
        clock().advance(1s);
        EXPECT_EQ(system().nowPlaying(), c.spotifyRuns ? spotifyState(false) : NowPlayingState::empty())
            << "no probe within 2 s";
        EXPECT_EQ(musicReads(), 0u);
        clock().advance(1s);
        auto reading = system().nowPlaying();
        EXPECT_EQ(musicReads(), 1u);
        EXPECT_EQ(system().preferredPlayer(), c.follows);
        EXPECT_EQ(reading.source, c.source);
        if (c.follows == Player::music) {
            EXPECT_EQ(reading.persistentID, musicTrack);
        }
    }
}

TEST_F(SystemTransportTest, CommandsResolveThePlayerOnlyWhenTheLastResolutionIsStale)
{
    followSpotify();
    clock().advance(1500ms);
    system().pause();
    EXPECT_EQ(spotifyReads(), 0u) << "1.5 s is still fresh";
    EXPECT_EQ(runner().count(spotifyCommand(1)), 1u);

    musicPlays("playing");
    spotifyPlays("paused");
    clock().advance(1501ms);
    system().pause();
    EXPECT_EQ(spotifyReads(), 1u);
    EXPECT_EQ(runner().count("tell application \"Music\" to pause"), 1u)
        << "the resolution moved over to Music";

    runner().clearCalls();
    clock().advance(10s);
    system().endSeek();
    EXPECT_TRUE(runner().calls().empty()) << "ending no scan asks nobody";
}

TEST_F(SystemTransportTest, WithoutSpotifyItsCommandsSayItIsNotRunning)
{
    const std::pair<const char *, std::function<void(SystemNowPlayingTransport &)>> commands[] = {
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
             t.beginSeek(1);
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
        reset();
        followSpotify();
        applications().spotifyRuns = false;
        try {
            act(system());
            ADD_FAILURE() << "no error";
        } catch (const TransportError &error) {
            EXPECT_EQ(error, TransportError::playerUnavailable("Spotify"));
            EXPECT_STREQ(error.what(), "Spotify is not running.");
        }
        EXPECT_TRUE(runner().calls().empty());
        EXPECT_FALSE(system().seekPlayer());
    }
}

TEST_F(SystemTransportTest, RepeatOneOnSpotifySwitchesRepeatOffThenSaysItCannot)
{
    followSpotify();
    try {
        system().setRepeat("One");
        ADD_FAILURE() << "no error";
    } catch (const TransportError &error) {
        EXPECT_EQ(error.kind(), TransportError::Kind::unsupportedSetting);
        EXPECT_STREQ(error.what(), "Spotify automation does not support Repeat One.");
    }
    EXPECT_THAT(runner().scripts(), ElementsAre(spotifyCommand(8)));

    // When switching repeat off fails, that failure is the answer.
    runner().fail("set repeating", ScriptError::failed("Spotify got an error."));
    EXPECT_THROW(
        {
            try {
                system().setRepeat("One");
            } catch (const ScriptError &error) {
                EXPECT_STREQ(error.what(), "Spotify got an error.");
                throw;
            }
        },
        ScriptError);
}

TEST_F(SystemTransportTest, TheSpotifyVolumeIsItsAnswerAsANumber)
{
    const std::pair<std::optional<std::string>, std::optional<double>> cases[] = {
        {"64", 64.0},           {"12.5", 12.5}, {"", std::nullopt}, {std::nullopt, std::nullopt},
        {"loud", std::nullopt},
    };
    followSpotify();
    for (const auto &[answer, volume] : cases) {
        SCOPED_TRACE(answer.value_or("(nothing)"));
        runner().answer("return sound volume as text", answer);
        EXPECT_EQ(system().volume(), volume);
    }
    runner().fail("return sound volume as text", ScriptError::timedOut());
    EXPECT_EQ(system().volume(), std::nullopt);

    // Following the music app: its volume, or none while the app does not run.
    reset();
    runner().answer("return sound volume as text", "30");
    EXPECT_EQ(system().volume(), 30.0);
    applications().musicRuns = false;
    EXPECT_EQ(system().volume(), std::nullopt);
}

TEST_F(SystemTransportTest, ASpotifyScanRunsFromBeginSeekToEndSeek)
{
    followSpotify();
    system().beginSeek(1);
    EXPECT_EQ(system().seekPlayer(), Player::spotify);
    EXPECT_TRUE(system().hasSpotifyScan());

    system().beginSeek(-1);
    EXPECT_EQ(runner().stopCount(), 1u) << "the second scan replaces the first";
    EXPECT_EQ(runner().count("repeat with scanTick"), 2u);

    system().endSeek();
    EXPECT_EQ(runner().stopCount(), 2u);
    EXPECT_FALSE(system().seekPlayer());
    EXPECT_FALSE(system().hasSpotifyScan());
    system().endSeek();
    EXPECT_EQ(runner().stopCount(), 2u) << "nothing left to stop";
}

TEST_F(SystemTransportTest, AScanThatWillNotStopIsReportedAndKept)
{
    followSpotify();
    system().beginSeek(1);
    runner().stopSucceeds = false;
    auto failsWith = [](const std::function<void()> &act, const char *text) {
        try {
            act();
            ADD_FAILURE() << "no error";
        } catch (const ScriptError &error) {
            EXPECT_EQ(error.kind(), ScriptError::Kind::failed);
            EXPECT_STREQ(error.what(), text);
        }
    };
    failsWith([&] { system().beginSeek(1); }, "Couldn’t stop Spotify’s previous scan.");
    failsWith([&] { system().endSeek(); }, "Couldn’t stop Spotify’s scan.");
    failsWith([&] { system().pause(); }, "Couldn’t stop Spotify’s scan.");
    EXPECT_EQ(system().seekPlayer(), Player::spotify);
    EXPECT_TRUE(system().hasSpotifyScan());
    EXPECT_EQ(runner().count("repeat with scanTick"), 1u);
    EXPECT_EQ(runner().count(spotifyCommand(1)), 0u) << "the pause waits for the scan to end";

    runner().stopSucceeds = true;
    system().endSeek();
    EXPECT_FALSE(system().seekPlayer());
}

TEST_F(SystemTransportTest, ScanningNeedsASpotifyReadingAndAStartedScript)
{
    followSpotify();
    runner().answer(spotifyReading, joined({"too", "few"}, unitSeparator));
    EXPECT_THROW(system().beginSeek(1), TransportError) << "six fields or fewer are no reading";
    EXPECT_EQ(runner().count("repeat with scanTick"), 0u);

    spotifyPlays();
    runner().fail("repeat with scanTick", ScriptError::couldNotStart());
    EXPECT_THROW(system().beginSeek(1), ScriptError);
    EXPECT_FALSE(system().seekPlayer());
    EXPECT_FALSE(system().hasSpotifyScan());
}

TEST_F(SystemTransportTest, CommandsThatMovePlaybackEndTheSpotifyScanOthersLeaveIt)
{
    struct Case {
        const char *what;
        std::function<void(SystemNowPlayingTransport &)> act;
        bool endsScan;
    };
    const Case cases[] = {
        {"playPause", [](auto &t) { t.playPause(); }, true},
        {"pause", [](auto &t) { t.pause(); }, true},
        {"skip", [](auto &t) { t.skip(1); }, true},
        {"seek", [](auto &t) { t.seek(3); }, true},
        {"play a track", [](auto &t) { t.playItem("music-track:00000000000000A1", false, "Off", 50); }, true},
        {"setVolume", [](auto &t) { t.setVolume(3); }, false},
        {"setShuffle", [](auto &t) { t.setShuffle(true); }, false},
        {"setRepeat", [](auto &t) { t.setRepeat("All"); }, false},
        {"volume", [](auto &t) { t.volume(); }, false},
        {"nowPlaying", [](auto &t) { t.nowPlaying(); }, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        followSpotify();
        system().beginSeek(1);
        auto scanScript = runner().calls().back().script;
        c.act(system());
        EXPECT_EQ(runner().stopCount(), c.endsScan ? 1u : 0u);
        EXPECT_EQ(system().hasSpotifyScan(), !c.endsScan);
        if (c.endsScan) {
            auto scripts = runner().scripts();
            EXPECT_EQ(std::count(scripts.begin(), scripts.end(), scanScript), 1);
        }
    }
}

TEST_F(SystemTransportTest, AMusicScanIsEndedOnTheMusicAppWhicheverPlayerIsFollowedThen)
{
    musicPlays("paused");
    system().beginSeek(1);
    EXPECT_EQ(system().seekPlayer(), Player::music);
    EXPECT_TRUE(music().isSeeking());
    EXPECT_EQ(runner().count("fast forward"), 1u);

    // Spotify takes over; ending the scan still goes to the music app.
    spotifyPlays();
    clock().advance(3s);
    system().nowPlaying();
    ASSERT_EQ(system().preferredPlayer(), Player::spotify);
    runner().clearCalls();
    system().endSeek();
    EXPECT_THAT(runner().scripts(), ElementsAre(fill(loadScript("music-end-seek-paused"), {})));
    EXPECT_FALSE(music().isSeeking());
    EXPECT_FALSE(system().seekPlayer());

    // A Spotify scan begun over a running music scan ends the music scan first.
    musicPlays("paused");
    reset();
    musicPlays("paused");
    system().beginSeek(1);
    spotifyPlays();
    clock().advance(3s);
    system().nowPlaying();
    runner().clearCalls();
    system().beginSeek(1);
    EXPECT_FALSE(music().isSeeking());
    EXPECT_EQ(runner().count("resume"), 1u);
    EXPECT_EQ(system().seekPlayer(), Player::spotify);
}

TEST_F(SystemTransportTest, AMusicScanWhoseScriptFailedIsStillEndedOnRelease)
{
    // The scan script timed out (or was cancelled) after the app may have begun to scan: the
    // release must still reach the music app.
    musicPlays("playing");
    system().nowPlaying();
    runner().fail("fast forward", ScriptError::timedOut(), FakeScriptRunner::Uses::once);
    EXPECT_THROW(system().beginSeek(1), ScriptError);
    ASSERT_TRUE(music().isSeeking());
    EXPECT_EQ(system().seekPlayer(), Player::music);

    runner().clearCalls();
    system().endSeek();
    EXPECT_THAT(runner().scripts(), ElementsAre(fill(loadScript("music-end-seek-playing"), {})));
    EXPECT_FALSE(music().isSeeking());
    EXPECT_FALSE(system().seekPlayer());

    // A scan refused before any script ran leaves nothing to end.
    applications().musicRuns = false;
    EXPECT_THROW(system().beginSeek(1), TransportError);
    EXPECT_FALSE(system().seekPlayer());
}

TEST_F(SystemTransportTest, PlayingATrackPausesSpotifyAndResumesItWhenTheTrackDoesNotStart)
{
    const std::string item = std::string("music-track:") + musicTrack;
    struct Case {
        const char *what;
        bool spotifyPlaying;
        bool trackStarts;
        bool musicPlaysTrackAfterFailure;
        std::vector<std::string> spotifyCommands;
    };
    const Case cases[] = {
        {"Spotify plays, the track starts", true, true, false, {spotifyCommand(1)}},
        {"Spotify plays, the track fails", true, false, false, {spotifyCommand(1), spotifyCommand(2)}},
        {"Spotify plays, the failed start plays after all", true, false, true, {spotifyCommand(1)}},
        {"Spotify paused, the track fails", false, false, false, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        followSpotify();
        spotifyPlays(c.spotifyPlaying ? "playing" : "paused");
        if (!c.trackStarts)
            runner().fail(trackStartScript, ScriptError::timedOut());
        runner().answer("return ((persistent ID of current track",
                        c.musicPlaysTrackAfterFailure ? "true" : "false");
        if (c.trackStarts) {
            system().playItem(item, true, "All", 40);
            EXPECT_EQ(system().preferredPlayer(), Player::music);
            EXPECT_EQ(music().logicalShuffleEnabled(), true);
        } else {
            EXPECT_THROW(system().playItem(item, true, "All", 40), ScriptError);
            EXPECT_EQ(system().preferredPlayer(), Player::spotify);
        }
        std::vector<std::string> sent;
        for (const auto &script : runner().scripts()) {
            if (script.starts_with("tell application \"Spotify\" to "))
                sent.push_back(script);
        }
        EXPECT_EQ(sent, c.spotifyCommands);
        auto scripts = runner().scripts();
        auto pause = std::find(scripts.begin(), scripts.end(), spotifyCommand(1));
        auto start = std::find_if(scripts.begin(), scripts.end(), [](const std::string &s) {
            return s.find(trackStartScript) != std::string::npos;
        });
        if (c.spotifyPlaying) {
            EXPECT_LT(pause - scripts.begin(), start - scripts.begin())
                << "Spotify pauses before the track starts";
        }
    }
}

TEST_F(SystemTransportTest, PlayingATrackAfterAFailedSpotifyPauseStartsNothing)
{
    followSpotify();
    runner().fail(spotifyCommand(1), ScriptError::failed("Spotify got an error: nope."));
    EXPECT_THROW(system().playItem(std::string("music-track:") + musicTrack, false, "Off", 50), ScriptError);
    EXPECT_EQ(runner().count(trackStartScript), 0u);

    runner().clearCalls();
    try {
        system().playItem("spotify:track:1", false, "Off", 50);
        ADD_FAILURE() << "no error";
    } catch (const TransportError &error) {
        EXPECT_STREQ(error.what(), "This transport cannot play spotify:track:1.");
    }
    EXPECT_TRUE(runner().calls().empty());
}

TEST_F(SystemTransportTest, FollowingMusicCommandsGoToTheMusicTransport)
{
    musicPlays("playing");
    system().nowPlaying();
    runner().clearCalls();
    system().playPause();
    system().skip(-1);
    system().seek(12);
    system().setVolume(150);
    system().setShuffle(true);
    system().setRepeat("One");
    EXPECT_THAT(runner().scripts(), ElementsAre(fill(loadScript("music-playpause"), {}),
                                                fill(loadScript("music-skip"), {{"step", "previous track"}}),
                                                fill(loadScript("music-seek"), {{"position", "12.0"}}),
                                                fill(loadScript("music-set-volume"), {{"volume", "100.0"}}),
                                                fill(loadScript("music-set-shuffle"), {{"enabled", "true"}}),
                                                fill(loadScript("music-set-repeat"), {{"repeat", "one"}})));
}

} // namespace
} // namespace wheelbox::test
