// The music transport against the real thing: the private MPD of tests/services/up, driven through
// the script runner and wheelbox-osascript. Every scenario ends with at most one temporary playlist
// and the user's playlists as they were.
#include "lib/mpd/MpdConnection.hpp"
#include "lib/mpd/MpdIdentity.hpp"
#include "lib/mpd/MpdPointers.hpp"
#include "library/ManagedQueueName.hpp"
#include "linux/LinuxRunningApplications.hpp"
#include "model/PersistentID.hpp"
#include "platform/AutomationTool.hpp"
#include "platform/Clock.hpp"
#include "platform/RandomSource.hpp"
#include "platform/UserDefaults.hpp"
#include "support/ServiceEnvironment.hpp"
#include "transport/MusicAppTransport.hpp"
#include "transport/ScriptError.hpp"
#include "transport/ScriptRunner.hpp"
#include "transport/TransportError.hpp"

#include <boost/json.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

namespace wheelbox::test {
namespace {

using namespace std::chrono_literals;

struct Track {
    std::string uri;
    std::string id;
    double duration = 0;
};

// The manifest's tracks by URI.
std::map<std::string, Track> manifestTracks(const std::string &path)
{
    std::ifstream input(path);
    std::stringstream text;
    text << input.rdbuf();
    std::map<std::string, Track> tracks;
    auto manifest = boost::json::parse(text.str());
    for (const auto &entry : manifest.at("tracks").as_array()) {
        std::string uri(entry.at("uri").as_string());
        tracks[uri] = {uri, formatPersistentID(mpd::songPersistentID(uri)),
                       entry.at("duration").to_number<double>()};
    }
    return tracks;
}

// Runs scripts through the real runner until a queue start has made its playlist, then kills that
// start and refuses every later script: what the player sees when the program dies mid-start.
class DyingScriptRunner final : public ScriptRunner {
  public:
    explicit DyingScriptRunner(std::function<bool()> playlistMade) : playlistMade_(std::move(playlistMade)) {}

    std::optional<std::string> run(std::string_view script, int timeoutSeconds) override
    {
        if (dead_)
            throw ScriptError::cancelled();
        if (script.find("make new user playlist") == std::string_view::npos)
            return real_.run(script, timeoutSeconds);
        auto started = real_.start(script, timeoutSeconds);
        for (auto deadline = std::chrono::steady_clock::now() + 10s;
             !playlistMade_() && std::chrono::steady_clock::now() < deadline;)
            std::this_thread::sleep_for(5ms);
        EXPECT_TRUE(started->stop(1s));
        dead_ = true;
        throw ScriptError::cancelled();
    }

    std::unique_ptr<StartedScript> start(std::string_view script, int timeoutSeconds) override
    {
        return real_.start(script, timeoutSeconds);
    }

  private:
    ToolScriptRunner real_;
    std::function<bool()> playlistMade_;
    bool dead_ = false;
};

class MusicAppPlaybackTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string host, manifest;
        WHEELBOX_SERVICE_VARIABLE(host, "WHEELBOX_TEST_MPD_HOST");
        WHEELBOX_SERVICE_VARIABLE(manifest, "WHEELBOX_TEST_MANIFEST");
        WHEELBOX_SERVICE_VARIABLE(goneURI_, "WHEELBOX_TEST_GONE_URI");
        // The script tool finds MPD as every MPD client does.
        ::setenv("MPD_HOST", host.c_str(), 1);
        overrideAutomationToolPath(WHEELBOX_OSASCRIPT_PATH);
        address_ = mpd::parseMpdAddress(host, "");
        mpd_.emplace(mpd::MpdConnection::open(address_, 5s));
        tracks_ = manifestTracks(manifest);
        volume_ = mpd_status_get_volume(status().get());
        for (const auto &name : playlists())
            userPlaylists_[name] = playlistSongs(name);
        resetPlayer();
        LinuxRunningApplicationsSettings settings;
        settings.mpdAddress = address_;
        applications_.emplace(settings);
        transport_.emplace(runner_, *applications_, defaults_, Clock::system(), RandomSource::system());
    }

    void TearDown() override
    {
        if (!mpd_)
            return;
        resetPlayer();
        std::size_t managed = 0;
        for (const auto &name : playlists()) {
            if (isManagedQueueName(name)) {
                ++managed;
                mpd_run_rm(mpd_->get(), name.c_str());
            }
        }
        EXPECT_LE(managed, 1u) << "at most one temporary playlist is left";
        std::map<std::string, std::vector<std::string>> user;
        for (const auto &name : playlists())
            user[name] = playlistSongs(name);
        EXPECT_EQ(user, userPlaylists_) << "the user's playlists are untouched";
        if (volume_ >= 0)
            mpd_run_set_volume(mpd_->get(), static_cast<unsigned>(volume_));
        mpd_connection_clear_error(mpd_->get());
        overrideAutomationToolPath(std::nullopt);
    }

    // Also clears the error a song that failed to play leaves in MPD's status, which every later
    // client would otherwise meet.
    void resetPlayer()
    {
        mpd_run_clearerror(mpd_->get());
        mpd_run_stop(mpd_->get());
        mpd_run_clear(mpd_->get());
        mpd_run_random(mpd_->get(), false);
        mpd_run_repeat(mpd_->get(), false);
        mpd_run_single_state(mpd_->get(), MPD_SINGLE_OFF);
        mpd_->check();
    }

    mpd::StatusPtr status()
    {
        mpd::StatusPtr current(mpd_run_status(mpd_->get()));
        mpd_->check();
        return current;
    }

    std::string currentURI()
    {
        mpd::SongPtr song(mpd_run_current_song(mpd_->get()));
        mpd_->check();
        return song ? mpd_song_get_uri(song.get()) : "";
    }

    std::vector<std::string> queueURIs()
    {
        std::vector<std::string> uris;
        mpd_send_list_queue_meta(mpd_->get());
        while (auto *song = mpd_recv_song(mpd_->get())) {
            uris.emplace_back(mpd_song_get_uri(song));
            mpd_song_free(song);
        }
        mpd_response_finish(mpd_->get());
        mpd_->check();
        return uris;
    }

    std::vector<std::string> playlists()
    {
        std::vector<std::string> names;
        mpd_send_list_playlists(mpd_->get());
        while (auto *playlist = mpd_recv_playlist(mpd_->get())) {
            names.emplace_back(mpd_playlist_get_path(playlist));
            mpd_playlist_free(playlist);
        }
        mpd_response_finish(mpd_->get());
        mpd_->check();
        return names;
    }

    std::vector<std::string> playlistSongs(const std::string &name)
    {
        std::vector<std::string> uris;
        mpd_send_list_playlist(mpd_->get(), name.c_str());
        while (auto *entity = mpd_recv_entity(mpd_->get())) {
            if (mpd_entity_get_type(entity) == MPD_ENTITY_TYPE_SONG)
                uris.emplace_back(mpd_song_get_uri(mpd_entity_get_song(entity)));
            mpd_entity_free(entity);
        }
        mpd_response_finish(mpd_->get());
        mpd_->check();
        return uris;
    }

    std::size_t managedPlaylistCount()
    {
        auto names = playlists();
        return static_cast<std::size_t>(std::count_if(names.begin(), names.end(), isManagedQueueName));
    }

    const Track &track(const std::string &uri) { return tracks_.at(uri); }

    std::vector<std::string> ids(const std::vector<std::string> &uris)
    {
        std::vector<std::string> result;
        for (const auto &uri : uris)
            result.push_back(track(uri).id);
        return result;
    }

    // Plays `collection` (URIs, in order) from `position` as the worker would start it.
    void playCollection(const std::vector<std::string> &collection, std::size_t position,
                        const std::string &repeat = "Off")
    {
        auto queue = ids(collection);
        std::vector<std::int64_t> indices;
        for (std::size_t i = 0; i < queue.size(); ++i)
            indices.push_back(static_cast<std::int64_t>(i));
        transport_->playQueue({.volume = 40,
                               .window = queue,
                               .windowIndex = static_cast<std::int64_t>(position),
                               .chosenID = queue[position],
                               .repeatMode = repeat,
                               .queue = queue,
                               .queuePosition = static_cast<std::int64_t>(position),
                               .canonical = queue,
                               .canonicalIndices = indices,
                               .shuffle = false,
                               .restore = std::nullopt});
    }

    // Reads now playing as the bridge's poll does until `done` holds or `timeout` passes; the last
    // reading.
    NowPlayingState pollUntil(const std::function<bool(const NowPlayingState &)> &done,
                              std::chrono::milliseconds timeout)
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            auto state = transport_->nowPlaying();
            if (done(state) || std::chrono::steady_clock::now() > deadline)
                return state;
            std::this_thread::sleep_for(250ms);
        }
    }

    static std::vector<std::string> shortTakes()
    {
        std::vector<std::string> uris;
        for (int n = 1; n <= 5; ++n)
            uris.push_back("Quick Steps/Short Takes/0" + std::to_string(n) + " Take " + std::to_string(n) +
                           ".flac");
        return uris;
    }

    // Tracks of 30 s and more, whose ends never come within a test.
    static std::vector<std::string> longTracks()
    {
        return {"Aurora Fields/Northern Lights/01 Dawn Chorus.flac",
                "Aurora Fields/Northern Lights/02 Cafe.flac",
                "Aurora Fields/Northern Lights/03 Omega.ogg",
                "The Quotes/Greatest Hits/01 Say Hello.flac",
                "The Quotes/Greatest Hits/03 Plain Song.ogg",
                "Other Band/Greatest Hits/01 Other Opener.ogg"};
    }

    mpd::MpdAddress address_;
    std::optional<mpd::MpdConnection> mpd_;
    std::map<std::string, Track> tracks_;
    std::string goneURI_;
    int volume_ = -1;
    std::map<std::string, std::vector<std::string>> userPlaylists_;

    ToolScriptRunner runner_;
    std::optional<LinuxRunningApplications> applications_;
    InMemoryUserDefaults defaults_;
    std::optional<MusicAppTransport> transport_;
};

TEST_F(MusicAppPlaybackTest, AnAlbumPlaysFromItsThirdTrackAndMovesOnByItself)
{
    auto album = shortTakes();
    playCollection(album, 2);

    EXPECT_THAT(playlists(), ::testing::Contains(transport_->managedQueuePlaylistName()));
    EXPECT_EQ(playlistSongs(transport_->managedQueuePlaylistName()),
              (std::vector<std::string>{album[2], album[3], album[4]}));
    EXPECT_EQ(currentURI(), album[2]);
    auto state = transport_->nowPlaying();
    EXPECT_EQ(state.persistentID, track(album[2]).id);
    EXPECT_TRUE(state.isPlaying);
    EXPECT_EQ(state.queuePosition, 3);
    EXPECT_EQ(state.queueCount, 5);

    state = pollUntil([&](auto &s) { return s.persistentID == track(album[3]).id; }, 10s);
    EXPECT_EQ(state.persistentID, track(album[3]).id) << "the next queue track starts when the third ends";
    EXPECT_EQ(state.queuePosition, 4);
    EXPECT_TRUE(transport_->usesLogicalQueue());
}

TEST_F(MusicAppPlaybackTest, WithRepeatAllTheLastTrackWrapsToTheFirst)
{
    auto album = shortTakes();
    playCollection(album, 4, "All");
    EXPECT_EQ(playlistSongs(transport_->managedQueuePlaylistName()),
              (std::vector<std::string>{album[4], album[0], album[1], album[2], album[3]}));
    auto state = pollUntil([&](auto &s) { return s.persistentID == track(album[0]).id; }, 12s);
    EXPECT_EQ(state.persistentID, track(album[0]).id);
    EXPECT_EQ(state.queuePosition, 1);
    EXPECT_EQ(state.queueCount, 5);
    EXPECT_TRUE(transport_->usesLogicalQueue());
}

TEST_F(MusicAppPlaybackTest, WithRepeatOneNothingAdvances)
{
    auto album = shortTakes();
    playCollection(album, 2, "One"); // a 3 s track
    double lastElapsed = 0;
    bool startedOver = false;
    pollUntil(
        [&](auto &s) {
            EXPECT_EQ(s.persistentID, track(album[2]).id);
            EXPECT_EQ(s.queuePosition, 3);
            startedOver = startedOver || s.elapsed + 0.5 < lastElapsed;
            lastElapsed = s.elapsed;
            return false;
        },
        7s);
    EXPECT_TRUE(startedOver) << "the track played again";
    EXPECT_TRUE(transport_->usesLogicalQueue());
}

TEST_F(MusicAppPlaybackTest, ShuffleWhilePausedKeepsTheTrackItsPositionAndThePause)
{
    auto collection = longTracks();
    playCollection(collection, 2);
    const auto current = track(collection[2]).id;
    transport_->seek(10);
    transport_->pause();
    pollUntil([](auto &s) { return !s.isPlaying && s.elapsed >= 9; }, 5s);

    auto expectUnchanged = [&](const char *when) {
        SCOPED_TRACE(when);
        auto now = status();
        EXPECT_EQ(mpd_status_get_state(now.get()), MPD_STATE_PAUSE);
        EXPECT_NEAR(mpd_status_get_elapsed_ms(now.get()) / 1000.0, 10, 1.5);
        EXPECT_EQ(currentURI(), collection[2]);
        auto state = transport_->nowPlaying();
        EXPECT_EQ(state.persistentID, current);
        EXPECT_FALSE(state.isPlaying);
        EXPECT_EQ(managedPlaylistCount(), 1u);
    };

    transport_->setShuffle(true);
    expectUnchanged("shuffle on");
    const auto &shuffled = transport_->logicalQueue().ids;
    EXPECT_EQ(shuffled.front(), current);
    EXPECT_EQ(transport_->logicalQueue().index, 0u);
    auto all = ids(collection);
    EXPECT_TRUE(std::is_permutation(shuffled.begin(), shuffled.end(), all.begin(), all.end()));
    EXPECT_EQ(ids(queueURIs()), shuffled) << "the player's queue follows the shuffled order";

    transport_->setShuffle(false);
    expectUnchanged("shuffle off");
    EXPECT_EQ(transport_->logicalQueue().ids, all);
    EXPECT_EQ(transport_->logicalQueue().index, 2u);
    EXPECT_EQ(queueURIs(), (std::vector<std::string>(collection.begin() + 2, collection.end())));
}

TEST_F(MusicAppPlaybackTest, ASongWhoseFileIsGoneIsPassedOverAndReported)
{
    auto collection = longTracks();
    std::vector<std::string> uris = {collection[0], goneURI_, collection[1]};
    playCollection(uris, 0);
    mpd_run_stop(mpd_->get());
    mpd_->check();
    ASSERT_FALSE(transport_->nowPlaying().isPlaying);

    transport_->skip(1);
    EXPECT_EQ(currentURI(), collection[1]);
    EXPECT_EQ(mpd_status_get_state(status().get()), MPD_STATE_PAUSE) << "a stopped player stays quiet";
    EXPECT_EQ(transport_->logicalQueue().index, 2u);
    EXPECT_EQ(transport_->logicalQueue().unavailable, (std::set<std::size_t>{1}));

    mpd_run_stop(mpd_->get());
    mpd_->check();
    try {
        transport_->playItem("music-track:" + track(goneURI_).id, false, "Off", 40);
        ADD_FAILURE() << "the gone song played";
    } catch (const TransportError &error) {
        EXPECT_EQ(error.kind(), TransportError::Kind::unavailableItem);
        EXPECT_STREQ(error.what(), "Music can’t play this song right now.");
    }
}

// The temporary playlist holds a window of the queue; when the player stops at its end, the
// transport starts the next queue track itself.
TEST_F(MusicAppPlaybackTest, PastTheEndOfThePlaylistTheTransportStartsTheNextTrack)
{
    auto album = shortTakes();
    auto queue = ids(album);
    transport_->playQueue({.volume = 40,
                           .window = {queue[2]},
                           .windowIndex = 0,
                           .chosenID = queue[2],
                           .repeatMode = "Off",
                           .queue = queue,
                           .queuePosition = 2,
                           .canonical = queue,
                           .canonicalIndices = {0, 1, 2, 3, 4},
                           .shuffle = false,
                           .restore = std::nullopt});
    auto state = pollUntil([&](auto &s) { return s.persistentID == queue[3]; }, 10s);
    EXPECT_EQ(state.persistentID, queue[3]);
    EXPECT_EQ(state.queuePosition, 4);
    EXPECT_TRUE(transport_->usesLogicalQueue());
}

TEST_F(MusicAppPlaybackTest, ASongPlayedInThePlayerItselfLeavesTheQueue)
{
    auto collection = longTracks();
    playCollection(collection, 0);
    auto state = transport_->nowPlaying();
    ASSERT_EQ(state.queuePosition, 1);

    mpd_run_play_pos(mpd_->get(), 3); // as `mpc play 4` would
    mpd_->check();
    state = transport_->nowPlaying();
    EXPECT_EQ(state.persistentID, track(collection[3]).id);
    EXPECT_FALSE(transport_->usesLogicalQueue());
    EXPECT_EQ(state.queuePosition, std::nullopt);
    EXPECT_EQ(state.queueCount, std::nullopt);
}

TEST_F(MusicAppPlaybackTest, AStartCutOffMidwayIsCleanedUpByTheNextStart)
{
    auto collection = longTracks();
    // The program dies while the player builds the playlist: the playlist stays, its name pending.
    DyingScriptRunner dying([&] {
        auto pending = defaults_.string(MusicAppTransport::pendingQueueNameKey);
        auto names = playlists();
        return pending && std::find(names.begin(), names.end(), *pending) != names.end();
    });
    std::optional<MusicAppTransport> dyingTransport;
    dyingTransport.emplace(dying, *applications_, defaults_, Clock::system(), RandomSource::system());
    EXPECT_THROW(dyingTransport->playQueue({.volume = 40,
                                            .window = ids(collection),
                                            .windowIndex = 0,
                                            .chosenID = track(collection[0]).id,
                                            .repeatMode = "Off",
                                            .queue = ids(collection),
                                            .queuePosition = 0,
                                            .canonical = ids(collection),
                                            .canonicalIndices = {0, 1, 2, 3, 4, 5},
                                            .shuffle = false,
                                            .restore = std::nullopt}),
                 ScriptError);
    auto leftBehind = defaults_.string(MusicAppTransport::pendingQueueNameKey);
    ASSERT_TRUE(leftBehind);
    EXPECT_THAT(playlists(), ::testing::Contains(*leftBehind));

    // The next run of the program.
    MusicAppTransport next(runner_, *applications_, defaults_, Clock::system(), RandomSource::system());
    next.playQueue({.volume = 40,
                    .window = ids(collection),
                    .windowIndex = 1,
                    .chosenID = track(collection[1]).id,
                    .repeatMode = "Off",
                    .queue = ids(collection),
                    .queuePosition = 1,
                    .canonical = ids(collection),
                    .canonicalIndices = {0, 1, 2, 3, 4, 5},
                    .shuffle = false,
                    .restore = std::nullopt});
    EXPECT_THAT(playlists(), ::testing::Not(::testing::Contains(*leftBehind)));
    EXPECT_EQ(managedPlaylistCount(), 1u);
    EXPECT_EQ(defaults_.string(MusicAppTransport::pendingQueueNameKey), std::nullopt);
    EXPECT_EQ(currentURI(), collection[1]);
}

// Identifiers reach the player inside string literals, whatever they hold: a song that is not
// there, never a broken or different script.
TEST_F(MusicAppPlaybackTest, HostileIdentifiersStayInsideTheirLiterals)
{
    const std::string cases[] = {
        "\" & (do shell script \"touch /tmp/wheelbox-injected\") & \"",
        "ends in a backslash \\",
        "line\nfeed\r\n  end tell\ntell application \"Music\" to pause",
        std::string("nul\0byte", 8),
        std::string(10000, 'A'),
        "¬\n-- not a comment",
    };
    playCollection(longTracks(), 0);
    for (const auto &id : cases) {
        SCOPED_TRACE(id.substr(0, 40));
        EXPECT_FALSE(transport_->isPlayingTrack(id));
        try {
            transport_->playTrack(id, 40, "Off", musicScripts::PauseAfterStart::no);
            ADD_FAILURE() << "played";
        } catch (const TransportError &error) {
            EXPECT_EQ(error, TransportError::unavailableItem(id));
        }
        EXPECT_EQ(currentURI(), longTracks()[0]) << "the player went on undisturbed";
    }
    EXPECT_EQ(mpd_status_get_state(status().get()), MPD_STATE_PLAY);
}

TEST_F(MusicAppPlaybackTest, EachStartReplacesThePreviousPlaylist)
{
    auto collection = longTracks();
    playCollection(collection, 0);
    auto first = transport_->managedQueuePlaylistName();
    playCollection(collection, 3, "All");
    EXPECT_NE(transport_->managedQueuePlaylistName(), first);
    EXPECT_THAT(playlists(), ::testing::Not(::testing::Contains(first)));
    EXPECT_EQ(managedPlaylistCount(), 1u);
    EXPECT_EQ(transport_->nowPlaying().queuePosition, 4);
}

} // namespace
} // namespace wheelbox::test
