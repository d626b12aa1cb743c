// Every Music script the app sends, run through the built tool against the private MPD of
// tests/services: what the script answers and what it did to the player.

#include "ScriptFixtures.hpp"
#include "ToolProcess.hpp"
#include "lib/mpd/MpdConnection.hpp"
#include "lib/mpd/MpdIdentity.hpp"
#include "support/ServiceEnvironment.hpp"

#include <boost/json.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace wheelbox::osascript {
namespace {

using namespace std::chrono_literals;
using test::quote;
using test::script;
using ::testing::HasSubstr;

struct FixtureTrack {
    std::string uri;
    std::string title;
    std::string artist;
    std::string album;
    double duration = 0;
};

std::vector<FixtureTrack> fixtureTracks()
{
    std::ifstream input(wheelbox::test::serviceVariable("WHEELBOX_TEST_MANIFEST").value_or(""));
    std::stringstream text;
    text << input.rdbuf();
    std::vector<FixtureTrack> tracks;
    auto manifest = boost::json::parse(text.str());
    for (const auto &entry : manifest.at("tracks").as_array()) {
        const auto &track = entry.as_object();
        auto field = [&](const char *name) {
            auto found = track.if_contains(name);
            return found && found->is_string() ? std::string(found->as_string()) : std::string();
        };
        tracks.push_back({field("uri"), field("title"), field("artist"), field("album"),
                          track.at("duration").to_number<double>()});
    }
    return tracks;
}

std::string persistentID(std::string_view uri)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(mpd::songPersistentID(uri)));
    return text;
}

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream stream(text);
    while (std::getline(stream, field, separator))
        fields.push_back(field);
    if (!text.empty() && text.back() == separator)
        fields.emplace_back();
    return fields;
}

std::string withoutLineFeed(std::string text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

class osascriptMusicTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string manifest;
        WHEELBOX_SERVICE_VARIABLE(manifest, "WHEELBOX_TEST_MANIFEST");
        WHEELBOX_SERVICE_VARIABLE(host, "WHEELBOX_TEST_MPD_HOST");
        WHEELBOX_SERVICE_VARIABLE(goneURI, "WHEELBOX_TEST_GONE_URI");
        mpd.emplace(mpd::MpdConnection::open(mpd::parseMpdAddress(host, ""), 5s));
        tracks = fixtureTracks();
        ASSERT_GE(tracks.size(), 3u);
        auto status = readStatus();
        volume = mpd_status_get_volume(status.get());
        playlistsBefore = playlists();
        reset();
    }

    void TearDown() override
    {
        if (!mpd)
            return;
        mpd_run_send_message(mpd->get(), "wheelbox-scan", "stop");
        mpd_connection_clear_error(mpd->get());
        // The next test must not meet this one's scanner.
        for (auto deadline = std::chrono::steady_clock::now() + 2s;
             scanRuns() && std::chrono::steady_clock::now() < deadline;)
            std::this_thread::sleep_for(10ms);
        reset();
        if (volume >= 0)
            mpd_run_set_volume(mpd->get(), static_cast<unsigned>(volume));
        for (const auto &name : playlists()) {
            if (std::find(playlistsBefore.begin(), playlistsBefore.end(), name) == playlistsBefore.end())
                mpd_run_rm(mpd->get(), name.c_str());
        }
        mpd_connection_clear_error(mpd->get());
    }

    void reset()
    {
        mpd_run_stop(mpd->get());
        mpd_run_clear(mpd->get());
        mpd_run_clearerror(mpd->get());
        mpd_run_random(mpd->get(), false);
        mpd_run_repeat(mpd->get(), false);
        mpd_run_single_state(mpd->get(), MPD_SINGLE_OFF);
        mpd_run_consume(mpd->get(), false);
        mpd->check();
    }

    test::ToolResult run(const std::string &program) { return test::runTool(program, {{"MPD_HOST", host}}); }

    mpd::StatusPtr readStatus()
    {
        mpd::StatusPtr status(mpd_run_status(mpd->get()));
        mpd->check();
        return status;
    }

    double elapsed() { return mpd_status_get_elapsed_ms(readStatus().get()) / 1000.0; }

    // MPD's error as another client finds it in the status; empty when there is none.
    std::string playerError()
    {
        auto status = readStatus();
        const char *error = mpd_status_get_error(status.get());
        return error ? error : "";
    }

    // Waits up to `timeout` for `done` to hold of MPD's status; whether it did.
    bool waitForStatus(const std::function<bool(const mpd_status &)> &done, std::chrono::milliseconds timeout)
    {
        for (auto deadline = std::chrono::steady_clock::now() + timeout;;) {
            if (done(*readStatus()))
                return true;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(20ms);
        }
    }

    // Queues the tracks and plays the last one into its final moment, until MPD has played the
    // queue out.
    void playOut(std::initializer_list<std::size_t> indices)
    {
        for (auto index : indices)
            mpd_run_add(mpd->get(), tracks[index].uri.c_str());
        auto last = static_cast<unsigned>(indices.size() - 1);
        mpd_run_seek_pos(mpd->get(), last, static_cast<float>(tracks[*std::rbegin(indices)].duration - 0.4));
        mpd->check();
        ASSERT_TRUE(waitForStatus(
            [](const mpd_status &status) {
                return mpd_status_get_state(&status) == MPD_STATE_STOP &&
                       mpd_status_get_song_pos(&status) < 0;
            },
            5s))
            << "MPD did not play the queue out";
    }

    std::vector<std::string> playlists()
    {
        std::vector<std::string> names;
        mpd_send_list_playlists(mpd->get());
        while (mpd_playlist *playlist = mpd_recv_playlist(mpd->get())) {
            names.emplace_back(mpd_playlist_get_path(playlist));
            mpd_playlist_free(playlist);
        }
        mpd_response_finish(mpd->get());
        mpd->check();
        return names;
    }

    std::vector<std::string> playlistSongs(const std::string &name)
    {
        std::vector<std::string> uris;
        mpd_send_list_playlist(mpd->get(), name.c_str());
        while (mpd_pair *pair = mpd_recv_pair_named(mpd->get(), "file")) {
            uris.emplace_back(pair->value);
            mpd_return_pair(mpd->get(), pair);
        }
        mpd_response_finish(mpd->get());
        mpd->check();
        return uris;
    }

    bool scanRuns()
    {
        bool found = false;
        mpd_send_channels(mpd->get());
        while (mpd_pair *pair = mpd_recv_channel_pair(mpd->get())) {
            found = found || std::string_view(pair->value) == "wheelbox-scan";
            mpd_return_pair(mpd->get(), pair);
        }
        mpd_response_finish(mpd->get());
        mpd->check();
        return found;
    }

    void queueAndPlay(std::initializer_list<std::size_t> indices)
    {
        for (auto index : indices)
            mpd_run_add(mpd->get(), tracks[index].uri.c_str());
        mpd_run_play_pos(mpd->get(), 0);
        mpd->check();
    }

    test::ToolResult playTrack(const std::string &id, const std::string &settings,
                               const std::string &pause = "")
    {
        return run(script("music-play-track",
                          {{"trackID", quote(id)}, {"settings", settings}, {"pauseAfterStart", pause}}, 12));
    }

    std::string host;
    std::string goneURI;
    std::optional<mpd::MpdConnection> mpd;
    std::vector<FixtureTrack> tracks;
    std::vector<std::string> playlistsBefore;
    int volume = -1;
};

TEST_F(osascriptMusicTest, PlayTrackStartsTheSongWithTheDevicesSettingsAndNowPlayingReadsIt)
{
    const auto &track = tracks[1];
    mpd_run_random(mpd->get(), true);
    auto started = playTrack(persistentID(track.uri), test::settingsBlock("55.0", "all"));
    ASSERT_EQ(started.exitStatus, 0) << started.error;

    auto status = readStatus();
    EXPECT_EQ(mpd_status_get_state(status.get()), MPD_STATE_PLAY);
    EXPECT_EQ(mpd_status_get_volume(status.get()), 55);
    EXPECT_FALSE(mpd_status_get_random(status.get()));
    EXPECT_TRUE(mpd_status_get_repeat(status.get()));
    EXPECT_EQ(mpd_status_get_single_state(status.get()), MPD_SINGLE_OFF);

    auto reading = run(script("music-now-playing", {}, 2));
    ASSERT_EQ(reading.exitStatus, 0) << reading.error;
    auto fields = split(withoutLineFeed(reading.output), '\x1f');
    ASSERT_EQ(fields.size(), 7u) << reading.output;
    EXPECT_EQ(fields[0], persistentID(track.uri));
    EXPECT_EQ(fields[1], track.title);
    EXPECT_EQ(fields[2], track.artist);
    EXPECT_EQ(fields[3], track.album);
    EXPECT_GE(std::stod(fields[4]), 0.0);
    EXPECT_NEAR(std::stod(fields[5]), track.duration, 0.5);
    EXPECT_EQ(fields[6], "playing");
}

TEST_F(osascriptMusicTest, NowPlayingReportsPausedAndStoppedStates)
{
    queueAndPlay({0});
    mpd_run_pause(mpd->get(), true);
    auto paused = split(withoutLineFeed(run(script("music-now-playing", {}, 2)).output), '\x1f');
    ASSERT_EQ(paused.size(), 7u);
    EXPECT_EQ(paused[6], "paused");

    mpd_run_stop(mpd->get());
    auto stopped = split(withoutLineFeed(run(script("music-now-playing", {}, 2)).output), '\x1f');
    ASSERT_EQ(stopped.size(), 7u);
    EXPECT_EQ(stopped[0], persistentID(tracks[0].uri));
    EXPECT_EQ(stopped[6], "stopped");
}

TEST_F(osascriptMusicTest, NowPlayingWithNothingLoadedFailsInMusicsWords)
{
    auto reading = run(script("music-now-playing", {}, 2));
    EXPECT_EQ(reading.exitStatus, 1);
    EXPECT_THAT(reading.error,
                HasSubstr("execution error: Music got an error: Can’t get current track. (-1728)"));
    EXPECT_EQ(reading.output, "");
}

TEST_F(osascriptMusicTest, PlayTrackRefusesAnUnknownSongWithTheScriptsOwnError)
{
    auto started = playTrack("0000000000000000", "");
    EXPECT_EQ(started.exitStatus, 1);
    EXPECT_THAT(started.error, HasSubstr("execution error: Song is not in the Music library. (-2700)"));
    EXPECT_EQ(mpd_status_get_state(readStatus().get()), MPD_STATE_STOP);
}

TEST_F(osascriptMusicTest, PlayTrackCanPauseOnceStarted)
{
    auto started = playTrack(persistentID(tracks[2].uri), "", "pause");
    ASSERT_EQ(started.exitStatus, 0) << started.error;
    EXPECT_EQ(mpd_status_get_state(readStatus().get()), MPD_STATE_PAUSE);
}

TEST_F(osascriptMusicTest, IsPlayingTrackComparesTheCurrentSong)
{
    queueAndPlay({0});
    auto ask = [&](const std::string &id) {
        return withoutLineFeed(run(script("music-is-playing-track", {{"trackID", quote(id)}}, 2)).output);
    };
    EXPECT_EQ(ask(persistentID(tracks[0].uri)), "true");
    EXPECT_EQ(ask(persistentID(tracks[1].uri)), "false");
    mpd_run_pause(mpd->get(), true);
    EXPECT_EQ(ask(persistentID(tracks[0].uri)), "false");
}

TEST_F(osascriptMusicTest, PlayPausePauseAndResumeFollowThePlayersState)
{
    auto playpause = script("music-playpause");
    queueAndPlay({0});
    ASSERT_EQ(run(playpause).exitStatus, 0);
    EXPECT_EQ(mpd_status_get_state(readStatus().get()), MPD_STATE_PAUSE);
    ASSERT_EQ(run(playpause).exitStatus, 0);
    EXPECT_EQ(mpd_status_get_state(readStatus().get()), MPD_STATE_PLAY);
    ASSERT_EQ(run(script("music-pause")).exitStatus, 0);
    EXPECT_EQ(mpd_status_get_state(readStatus().get()), MPD_STATE_PAUSE);
    ASSERT_EQ(run(script("music-end-seek-playing")).exitStatus, 0);
    EXPECT_EQ(mpd_status_get_state(readStatus().get()), MPD_STATE_PLAY);
    mpd_run_stop(mpd->get());
    ASSERT_EQ(run(playpause).exitStatus, 0);
    EXPECT_EQ(mpd_status_get_state(readStatus().get()), MPD_STATE_PLAY);
}

TEST_F(osascriptMusicTest, SkipMovesThroughTheQueueEvenWhenStopped)
{
    queueAndPlay({0, 1});
    ASSERT_EQ(run(script("music-skip", {{"step", "next track"}})).exitStatus, 0);
    EXPECT_EQ(mpd_status_get_song_pos(readStatus().get()), 1);
    ASSERT_EQ(run(script("music-skip", {{"step", "previous track"}})).exitStatus, 0);
    EXPECT_EQ(mpd_status_get_song_pos(readStatus().get()), 0);

    // MPD itself refuses to skip while stopped; the player moves and stays stopped.
    mpd_run_stop(mpd->get());
    ASSERT_EQ(run(script("music-skip", {{"step", "next track"}})).exitStatus, 0);
    auto status = readStatus();
    EXPECT_EQ(mpd_status_get_state(status.get()), MPD_STATE_STOP);
    EXPECT_EQ(mpd_status_get_song_pos(status.get()), 1);
    ASSERT_EQ(run(script("music-skip", {{"step", "next track"}})).exitStatus, 0);
    EXPECT_EQ(mpd_status_get_song_pos(readStatus().get()), 1);
    ASSERT_EQ(run(script("music-skip", {{"step", "previous track"}})).exitStatus, 0);
    status = readStatus();
    EXPECT_EQ(mpd_status_get_state(status.get()), MPD_STATE_STOP);
    EXPECT_EQ(mpd_status_get_song_pos(status.get()), 0);
}

TEST_F(osascriptMusicTest, SeekVolumeShuffleAndRepeatReachThePlayer)
{
    queueAndPlay({1});
    mpd_run_pause(mpd->get(), true);
    ASSERT_EQ(run(script("music-seek", {{"position", "12.5"}})).exitStatus, 0);
    EXPECT_NEAR(elapsed(), 12.5, 0.2);

    ASSERT_EQ(run(script("music-set-volume", {{"volume", "42.0"}})).exitStatus, 0);
    EXPECT_EQ(mpd_status_get_volume(readStatus().get()), 42);
    EXPECT_EQ(run(script("music-volume", {}, 3)).output, "42\n");

    ASSERT_EQ(run(script("music-set-shuffle", {{"enabled", "true"}})).exitStatus, 0);
    EXPECT_TRUE(mpd_status_get_random(readStatus().get()));
    ASSERT_EQ(run(script("music-set-shuffle", {{"enabled", "false"}})).exitStatus, 0);
    EXPECT_FALSE(mpd_status_get_random(readStatus().get()));

    struct RepeatCase {
        const char *mode;
        bool repeat;
        mpd_single_state single;
    };
    for (auto [mode, repeat, single] :
         {RepeatCase{"one", true, MPD_SINGLE_ON}, RepeatCase{"all", true, MPD_SINGLE_OFF},
          RepeatCase{"off", false, MPD_SINGLE_OFF}}) {
        ASSERT_EQ(run(script("music-set-repeat", {{"repeat", mode}})).exitStatus, 0) << mode;
        auto status = readStatus();
        EXPECT_EQ(mpd_status_get_repeat(status.get()), repeat) << mode;
        EXPECT_EQ(mpd_status_get_single_state(status.get()), single) << mode;
    }
}

TEST_F(osascriptMusicTest, FastForwardScansUntilTheNextCommandStopsIt)
{
    queueAndPlay({2});
    mpd_run_pause(mpd->get(), true);
    mpd_run_seek_current(mpd->get(), 5, false);
    auto begun = run(script("music-begin-seek", {{"scan", "fast forward"}}));
    ASSERT_EQ(begun.exitStatus, 0) << begun.error;
    EXPECT_EQ(begun.output, "false\n");
    EXPECT_TRUE(scanRuns());
    std::this_thread::sleep_for(700ms);
    double scanned = elapsed();
    EXPECT_GT(scanned, 8.0);

    ASSERT_EQ(run(script("music-end-seek-paused")).exitStatus, 0);
    EXPECT_FALSE(scanRuns());
    EXPECT_EQ(mpd_status_get_state(readStatus().get()), MPD_STATE_PAUSE);
    double stoppedAt = elapsed();
    std::this_thread::sleep_for(500ms);
    EXPECT_NEAR(elapsed(), stoppedAt, 0.01);
}

TEST_F(osascriptMusicTest, RewindStopsAtTheStartOfTheSong)
{
    queueAndPlay({2});
    mpd_run_seek_current(mpd->get(), 3, false);
    auto begun = run(script("music-begin-seek", {{"scan", "rewind"}}));
    ASSERT_EQ(begun.exitStatus, 0) << begun.error;
    EXPECT_EQ(begun.output, "true\n");
    auto deadline = std::chrono::steady_clock::now() + 3s;
    while (scanRuns() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(scanRuns());
    EXPECT_LT(elapsed(), 1.5);
    ASSERT_EQ(run(script("music-end-seek-playing")).exitStatus, 0);
    EXPECT_EQ(mpd_status_get_state(readStatus().get()), MPD_STATE_PLAY);
}

// MPD forgets its current song once the queue has played out; the player keeps the last one,
// stopped, wherever MPD's settings still tell which one that was.
TEST_F(osascriptMusicTest, AQueueThatPlayedOutKeepsItsLastSongStopped)
{
    struct Case {
        const char *settings;
        bool random;
        bool consume;
        bool repeat;
        std::optional<std::size_t> current;
    };
    const Case cases[] = {
        {"as played", false, false, false, 2},
        // The device may set repeat once the end has come; that changes nothing that has played.
        {"repeat set afterwards", false, false, true, 2},
        // In random order any song may have played last: MPD does not tell which.
        {"random", true, false, false, std::nullopt},
        // Consume takes each song out as it ends; what is still queued has not played.
        {"consume", false, true, false, std::nullopt},
    };
    playOut({0, 1, 2});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.settings);
        mpd_run_random(mpd->get(), c.random);
        mpd_run_consume(mpd->get(), c.consume);
        mpd_run_repeat(mpd->get(), c.repeat);
        mpd->check();
        auto reading = run(script("music-now-playing", {}, 2));
        if (!c.current) {
            EXPECT_EQ(reading.exitStatus, 1);
            EXPECT_THAT(reading.error, HasSubstr("Music got an error: Can’t get current track. (-1728)"));
            continue;
        }
        ASSERT_EQ(reading.exitStatus, 0) << reading.error;
        auto fields = split(withoutLineFeed(reading.output), '\x1f');
        ASSERT_EQ(fields.size(), 7u) << reading.output;
        EXPECT_EQ(fields[0], persistentID(tracks[*c.current].uri));
        EXPECT_EQ(fields[1], tracks[*c.current].title);
        EXPECT_EQ(fields[4], "0.0");
        EXPECT_NEAR(std::stod(fields[5]), tracks[*c.current].duration, 0.5);
        EXPECT_EQ(fields[6], "stopped");
    }
    mpd_run_random(mpd->get(), false);
    mpd_run_consume(mpd->get(), false);
    mpd->check();

    // Skipping moves from that song as from any stopped one.
    ASSERT_EQ(run(script("music-skip", {{"step", "next track"}})).exitStatus, 0);
    EXPECT_EQ(mpd_status_get_song_pos(readStatus().get()), -1) << "nothing follows the last song";
    ASSERT_EQ(run(script("music-skip", {{"step", "previous track"}})).exitStatus, 0);
    auto status = readStatus();
    EXPECT_EQ(mpd_status_get_state(status.get()), MPD_STATE_STOP);
    EXPECT_EQ(mpd_status_get_song_pos(status.get()), 1);
}

TEST_F(osascriptMusicTest, ASingleSongPlayedOutStaysCurrentInAnyOrder)
{
    playOut({1});
    mpd_run_random(mpd->get(), true);
    mpd->check();
    auto reading = run(test::wrapInTimeout(
        "tell application \"Music\" to return {persistent ID of current track, player state}", 2));
    EXPECT_EQ(withoutLineFeed(reading.output), persistentID(tracks[1].uri) + ", stopped") << reading.error;
}

// A song whose file went away after the database scan: MPD still lists it and fails to open it,
// refusing the play command at once or stopping a moment after it. A player simply does not start
// it; the scripts' own start wait then reports the song as one Music cannot play.
TEST_F(osascriptMusicTest, ASongWhoseFileIsGoneIsNotStartedAndLeavesNoError)
{
    struct Case {
        const char *before;
        mpd_state state;
    };
    // From a stopped player MPD answers before its decoder has tried; from a playing or paused one
    // it waits and refuses.
    const Case cases[] = {
        {"stopped", MPD_STATE_STOP}, {"playing", MPD_STATE_PLAY}, {"paused", MPD_STATE_PAUSE}};
    // Several plays in a row, so that a "playing" read in the moment before MPD gives up shows.
    auto program = test::wrapInTimeout("tell application \"Music\"\n"
                                       "  set gone to item 1 of (every track of library playlist 1 whose "
                                       "persistent ID is \"" +
                                           persistentID(goneURI) +
                                           "\")\n"
                                           "  repeat 10 times\n"
                                           "    play gone\n"
                                           "    if player state is playing then return \"playing\"\n"
                                           "  end repeat\n"
                                           "  return player state\n"
                                           "end tell",
                                       8);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.before);
        reset();
        queueAndPlay({0});
        if (c.state == MPD_STATE_PAUSE)
            mpd_run_pause(mpd->get(), true);
        if (c.state == MPD_STATE_STOP)
            mpd_run_stop(mpd->get());
        mpd->check();

        auto played = run(program);
        EXPECT_EQ(played.exitStatus, 0) << played.error;
        EXPECT_EQ(played.output, "stopped\n");
        EXPECT_EQ(mpd_status_get_state(readStatus().get()), MPD_STATE_STOP);
        EXPECT_EQ(playerError(), "") << "no other client meets the failure";
    }
}

TEST_F(osascriptMusicTest, SkippingOntoASongWhoseFileIsGoneIsNoFailure)
{
    mpd_run_add(mpd->get(), tracks[0].uri.c_str());
    mpd_run_add(mpd->get(), goneURI.c_str());
    mpd_run_add(mpd->get(), tracks[1].uri.c_str());
    mpd_run_play_pos(mpd->get(), 0);
    mpd->check();

    // Playing, MPD goes on past the song it cannot open, as a player passes over it.
    auto skipped = run(script("music-skip", {{"step", "next track"}}));
    EXPECT_EQ(skipped.exitStatus, 0) << skipped.error;
    EXPECT_TRUE(waitForStatus(
        [](const mpd_status &status) {
            return mpd_status_get_state(&status) == MPD_STATE_PLAY && mpd_status_get_song_pos(&status) == 2;
        },
        2s));
    EXPECT_EQ(playerError(), "");

    // Stopped, the player moves and stays stopped: on the song, or past it when MPD refused it at
    // once and went on by itself before the stop.
    mpd_run_play_pos(mpd->get(), 0);
    mpd_run_stop(mpd->get());
    mpd->check();
    skipped = run(script("music-skip", {{"step", "next track"}}));
    EXPECT_EQ(skipped.exitStatus, 0) << skipped.error;
    auto status = readStatus();
    EXPECT_EQ(mpd_status_get_state(status.get()), MPD_STATE_STOP);
    EXPECT_THAT(mpd_status_get_song_pos(status.get()), ::testing::AnyOf(1, 2));
    EXPECT_EQ(playerError(), "");
}

// Another client's failed play leaves its error in MPD's status until something clears it; it
// belongs to no later command.
TEST_F(osascriptMusicTest, AnErrorLeftInMpdFailsNoLaterScript)
{
    mpd_run_add(mpd->get(), goneURI.c_str());
    mpd_run_play_pos(mpd->get(), 0);
    mpd_connection_clear_error(mpd->get());
    ASSERT_TRUE(waitForStatus([](const mpd_status &status) { return mpd_status_get_error(&status); }, 2s));

    auto reading = run(script("music-now-playing", {}, 2));
    EXPECT_EQ(reading.exitStatus, 0) << reading.error;
    EXPECT_THAT(reading.output, ::testing::EndsWith("\x1fstopped\n"));

    mpd_run_clear(mpd->get());
    mpd_run_add(mpd->get(), tracks[2].uri.c_str());
    mpd->check();
    ASSERT_FALSE(playerError().empty());
    auto started = run(script("music-playpause"));
    EXPECT_EQ(started.exitStatus, 0) << started.error;
    EXPECT_EQ(
        withoutLineFeed(
            run(script("music-is-playing-track", {{"trackID", persistentID(tracks[2].uri)}}, 2)).output),
        "true");
}

class osascriptMusicQueueTest : public osascriptMusicTest {
  protected:
    test::ToolResult startQueue(const std::string &name, const std::vector<std::string> &ids,
                                const std::string &startID, const std::string &restore = "")
    {
        std::string list;
        for (const auto &id : ids)
            list += (list.empty() ? "\"" : ", \"") + quote(id) + "\"";
        return run(script("music-start-queue",
                          {{"name", quote(name)},
                           {"startID", quote(startID)},
                           {"trackList", list},
                           {"settings", test::settingsBlock("60.0", "off")},
                           {"restore", restore}},
                          45));
    }
};

TEST_F(osascriptMusicQueueTest, StartCopiesTheKnownTracksAndPlaysThePlaylistFromTheChosenOne)
{
    // A name with a quote and a backslash shows the quoting holds end to end.
    std::string name = "Wheelbox Queue • \"Q\\1\"";
    auto chosen = persistentID(tracks[2].uri);
    auto other = persistentID(tracks[0].uri);
    std::string restore = "\n            try\n              set player position to 6.5\n            end try\n"
                          "            try\n              pause\n            end try";
    auto started = startQueue(name, {chosen, "0000000000000000", other}, chosen, restore);
    ASSERT_EQ(started.exitStatus, 0) << started.error;

    auto fields = split(withoutLineFeed(started.output), '\x1e');
    ASSERT_EQ(fields.size(), 5u) << started.output;
    char playlistID[17];
    std::snprintf(playlistID, sizeof playlistID, "%016llX",
                  static_cast<unsigned long long>(mpd::playlistPersistentID(name)));
    EXPECT_EQ(fields[0], playlistID);
    EXPECT_EQ(fields[1], name);
    EXPECT_EQ(fields[2], "queue");
    EXPECT_EQ(fields[3], "1");
    EXPECT_EQ(fields[4], chosen + "\x1f" + other);

    EXPECT_EQ(playlistSongs(name), (std::vector<std::string>{tracks[2].uri, tracks[0].uri}));
    auto status = readStatus();
    EXPECT_EQ(mpd_status_get_state(status.get()), MPD_STATE_PAUSE);
    EXPECT_EQ(mpd_status_get_volume(status.get()), 60);
    EXPECT_NEAR(elapsed(), 6.5, 0.3);

    auto deleted = run(script("music-delete-by-id", {{"oldID", quote(fields[0])}}));
    ASSERT_EQ(deleted.exitStatus, 0) << deleted.error;
    auto names = playlists();
    EXPECT_EQ(std::count(names.begin(), names.end(), name), 0);
}

TEST_F(osascriptMusicQueueTest, StartRefusesANameThatIsTaken)
{
    auto roadTrip = playlistSongs("Road Trip");
    auto id = persistentID(tracks[0].uri);
    auto started = startQueue("Road Trip", {id}, id);
    EXPECT_EQ(started.exitStatus, 1);
    EXPECT_THAT(started.error,
                HasSubstr("execution error: Music already has the temporary Wheelbox queue. (-2700)"));
    EXPECT_EQ(playlistSongs("Road Trip"), roadTrip);
}

TEST_F(osascriptMusicQueueTest, AFailedStartDeletesTheNewPlaylistAndKeepsItsError)
{
    std::string name = "Wheelbox Queue • 0BADF00D";
    auto started = startQueue(name, {"0000000000000000", persistentID(tracks[1].uri)}, "0000000000000000");
    EXPECT_EQ(started.exitStatus, 1);
    EXPECT_THAT(started.error, HasSubstr("execution error: Song is not in the Music library. (-2700)"));
    auto names = playlists();
    EXPECT_EQ(std::count(names.begin(), names.end(), name), 0);
}

TEST_F(osascriptMusicQueueTest, PendingAndOldQueuesAreDeletedByNameOnly)
{
    std::string pending = "Wheelbox Queue • 1234ABCD";
    std::string old = "velto Queue • 99";
    for (const auto &name : {pending, old}) {
        mpd_run_playlist_add(mpd->get(), name.c_str(), tracks[0].uri.c_str());
        mpd->check();
    }
    ASSERT_EQ(run(script("music-remove-pending", {{"pending", quote(pending)}})).exitStatus, 0);
    ASSERT_EQ(run(script("music-delete-by-name", {{"oldName", quote(old)}})).exitStatus, 0);
    auto names = playlists();
    EXPECT_EQ(std::count(names.begin(), names.end(), pending), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), old), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "Road Trip"), 1);
}

// A playlist name is script text. MPD would read a line break in it as the end of the command and
// run the rest, and a NUL would cut it to another playlist's name: such names never reach MPD.
TEST_F(osascriptMusicQueueTest, NamesMpdWouldMisreadNeverReachIt)
{
    struct Case {
        const char *statement;
        const char *error;
    };
    const Case cases[] = {
        {R"(delete user playlist "x\nsave pwned\ny")", "Music got an error: Can’t get user playlist"},
        {R"(delete user playlist ("Road Trip" & (ASCII character 0) & "x"))",
         "Music got an error: Can’t get user playlist"},
        {R"(play user playlist "x\rsave pwned")", "Music got an error: Can’t get user playlist"},
        {R"(count of (every track of user playlist "x\nsave pwned"))",
         "Music got an error: Can’t get user playlist"},
        {R"(make new user playlist with properties {name:"x\nsave pwned\ny"})",
         "Music got an error: Can’t make a user playlist named"},
        {R"(make new user playlist with properties {name:"Mix/Part 2"})",
         "Music got an error: Can’t make a user playlist named"},
    };
    auto roadTrip = playlistSongs("Road Trip");
    for (const Case &c : cases) {
        auto ran = run(test::wrapInTimeout(std::string("tell application \"Music\" to ") + c.statement, 8));
        EXPECT_EQ(ran.exitStatus, 1) << c.statement;
        EXPECT_THAT(ran.error, HasSubstr(c.error)) << c.statement;
    }
    // The same name as the queue start gets it from the app: escaped, then spliced in.
    auto id = persistentID(tracks[0].uri);
    auto started = startQueue("x\nsave pwned\ny", {id}, id);
    EXPECT_EQ(started.exitStatus, 1);
    EXPECT_THAT(started.error, HasSubstr("Music got an error: Can’t make a user playlist named"));

    auto names = playlists();
    EXPECT_EQ(std::count(names.begin(), names.end(), "pwned"), 0);
    EXPECT_EQ(names, playlistsBefore);
    EXPECT_EQ(playlistSongs("Road Trip"), roadTrip);
}

TEST_F(osascriptMusicTest, ATrackExistsWhileItsSongIsInTheLibrary)
{
    struct Case {
        std::string reference;
        const char *exists;
    };
    const Case cases[] = {
        {"item 1 of (every track of library playlist 1 whose persistent ID is \"" +
             persistentID(tracks[0].uri) + "\")",
         "true"},
        {"current track", "true"},
        {"user playlist \"Road Trip\"", "true"},
        {"user playlist \"No Such Playlist\"", "false"},
    };
    queueAndPlay({1});
    for (const Case &c : cases) {
        auto ran = run(test::wrapInTimeout("tell application \"Music\" to return exists " + c.reference, 8));
        EXPECT_EQ(withoutLineFeed(ran.output), c.exists) << c.reference << ran.error;
    }

    // A playlist still lists a song whose file went away; the library no longer has it. MPD only
    // stores entries it knows, so the playlist file is written as MPD would have kept it.
    auto playlistFolder = std::filesystem::path(host).parent_path() / "playlists";
    ASSERT_TRUE(std::filesystem::is_directory(playlistFolder)) << playlistFolder;
    std::ofstream(playlistFolder / "Wheelbox Gone Song.m3u") << "Gone/Missing Song.flac\n"
                                                             << tracks[0].uri << "\n";
    auto ran = run(test::wrapInTimeout("tell application \"Music\"\n"
                                       "  set gone to every track of user playlist \"Wheelbox Gone Song\"\n"
                                       "  return {exists item 1 of gone, exists item 2 of gone}\n"
                                       "end tell",
                                       8));
    EXPECT_EQ(withoutLineFeed(ran.output), "false, true") << ran.error;
}

TEST(osascriptMusicUnreachableTest, AMissingPlayerReadsAsNotRunning)
{
    auto reading =
        test::runTool(script("music-now-playing", {}, 2), {{"MPD_HOST", "/nonexistent/mpd/socket"}});
    EXPECT_EQ(reading.exitStatus, 1);
    EXPECT_THAT(reading.error, HasSubstr("Music got an error: Application isn’t running. (-600)"));
}

// An MPD that takes the connection and never answers: the timeout block bounds the wait.
TEST(osascriptMusicUnreachableTest, ASilentPlayerTimesOutWithinTheTimeoutBlock)
{
    auto socketPath =
        std::filesystem::temp_directory_path() / ("wheelbox-silent-" + std::to_string(getpid()));
    std::filesystem::remove(socketPath);
    int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);

    auto started = std::chrono::steady_clock::now();
    auto reading = test::runTool(test::wrapInTimeout("tell application \"Music\" to return player state", 1),
                                 {{"MPD_HOST", socketPath.string()}});
    auto waited = std::chrono::steady_clock::now() - started;
    close(listener);
    std::filesystem::remove(socketPath);

    EXPECT_EQ(reading.exitStatus, 1);
    EXPECT_THAT(reading.error, HasSubstr("Music got an error: AppleEvent timed out. (-1712)"));
    EXPECT_LT(waited, 3s);
}

} // namespace
} // namespace wheelbox::osascript
