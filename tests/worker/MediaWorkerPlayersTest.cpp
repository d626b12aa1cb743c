// The media worker against real players: the private MPD standing in for the music app, the stub
// MPRIS player standing in for Spotify, reached through the real script runner and the built
// wheelbox-osascript, with the library read from MPD.
#include "lib/glib/GLibPointers.hpp"
#include "lib/mpd/MpdConnection.hpp"
#include "lib/mpd/MpdIdentity.hpp"
#include "lib/mpd/MpdPointers.hpp"
#include "linux/LinuxRunningApplications.hpp"
#include "linux/MpdLibrarySource.hpp"
#include "model/MediaJSON.hpp"
#include "model/PersistentID.hpp"
#include "platform/AutomationTool.hpp"
#include "platform/RandomSource.hpp"
#include "platform/UserDefaults.hpp"
#include "support/FakeHostFacts.hpp"
#include "support/ManualClock.hpp"
#include "support/Processes.hpp"
#include "support/ServiceEnvironment.hpp"
#include "transport/AppleScript.hpp"
#include "transport/ScriptRunner.hpp"
#include "worker/MediaWorker.hpp"

#include <boost/json/serialize.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

namespace wheelbox::test {
namespace {

namespace json = boost::json;
using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::HasSubstr;

constexpr const char *controlPath = "/com/velto/test/StubPlayer";
constexpr const char *controlInterface = "com.velto.test.StubPlayer";
constexpr const char *stubURL = "https://open.spotify.com/track/4uLU6hMCjMI75M1A2tKUQC";

// Polls `done` every 20 ms until it holds or `limit` has passed.
bool eventually(const std::function<bool()> &done, std::chrono::milliseconds limit = 5s)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// Spotify's "running" check that the test can turn off while the stub keeps its bus name.
class SwitchableApplications final : public RunningApplications {
  public:
    explicit SwitchableApplications(LinuxRunningApplicationsSettings settings) : running_(settings)
    {
        settings.spotifyBusName = "org.mpris.MediaPlayer2.nobody";
        withoutSpotify_.emplace(std::move(settings));
    }
    bool isRunning(std::string_view bundleIdentifier) override
    {
        return spotifyQuit ? withoutSpotify_->isRunning(bundleIdentifier)
                           : running_.isRunning(bundleIdentifier);
    }
    bool spotifyQuit = false;

  private:
    LinuxRunningApplications running_;
    std::optional<LinuxRunningApplications> withoutSpotify_;
};

class MediaWorkerPlayers : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string mpdHost, busAddress, playerName;
        WHEELBOX_SERVICE_VARIABLE(mpdHost, "WHEELBOX_TEST_MPD_HOST");
        WHEELBOX_SERVICE_VARIABLE(busAddress, "WHEELBOX_TEST_DBUS_ADDRESS");
        WHEELBOX_SERVICE_VARIABLE(playerName, "WHEELBOX_TEST_MPRIS_NAME");
        playerName_ = playerName;
        runtime_ = std::filesystem::temp_directory_path() / ("wheelbox-worker-" + std::to_string(getpid()));
        std::filesystem::create_directories(runtime_);
        // The script tool finds both players as every client does.
        setenv("MPD_HOST", mpdHost.c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", busAddress.c_str(), 1);
        setenv("WHEELBOX_SPOTIFY_BUS_NAME", playerName.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        overrideAutomationToolPath(WHEELBOX_OSASCRIPT_PATH);

        mpdAddress_ = mpd::parseMpdAddress(mpdHost, "");
        saveMpd();
        GError *error = nullptr;
        auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                       G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
        bus_.reset(
            g_dbus_connection_new_for_address_sync(busAddress.c_str(), flags, nullptr, nullptr, &error));
        ASSERT_TRUE(bus_) << error->message;
        control("Reset");

        applications_.emplace(LinuxRunningApplicationsSettings{.mpdAddress = mpdAddress_,
                                                               .busAddress = busAddress,
                                                               .spotifyBusName = playerName,
                                                               .timeout = 500ms});
        worker_.emplace(MediaWorkerServices{
            .runner = runner_,
            .applications = *applications_,
            .defaults = defaults_,
            .clock = clock_,
            .random = RandomSource::system(),
            .host = host_,
            .makeLibrarySource = [this] { return std::make_unique<MpdLibrarySource>(mpdAddress_); },
            .collationLocale = ""});
    }

    void TearDown() override
    {
        if (worker_)
            worker_->endScans();
        worker_.reset();
        if (bus_) {
            control("Reset");
            g_dbus_connection_close_sync(bus_.get(), nullptr, nullptr);
        }
        if (saved_)
            restoreMpd();
        overrideAutomationToolPath(std::nullopt);
        std::filesystem::remove_all(runtime_);
    }

    mpd::MpdConnection mpd() const { return mpd::MpdConnection::open(mpdAddress_, 5s); }

    // What the tests change in MPD: playback, the queue, the options and the temporary playlists.
    struct MpdState {
        std::vector<std::string> queue;
        std::vector<std::string> playlists;
        int volume = -1;
        bool repeat = false, random = false, single = false;
    };

    MpdState readMpd() const
    {
        auto connection = mpd();
        MpdState state;
        mpd::StatusPtr status(mpd_run_status(connection.get()));
        connection.check();
        state.volume = mpd_status_get_volume(status.get());
        state.repeat = mpd_status_get_repeat(status.get());
        state.random = mpd_status_get_random(status.get());
        state.single = mpd_status_get_single(status.get());
        mpd_send_list_queue_meta(connection.get());
        while (mpd::SongPtr song{mpd_recv_song(connection.get())})
            state.queue.emplace_back(mpd_song_get_uri(song.get()));
        connection.check();
        mpd_send_list_playlists(connection.get());
        while (mpd::PlaylistPtr playlist{mpd_recv_playlist(connection.get())})
            state.playlists.emplace_back(mpd_playlist_get_path(playlist.get()));
        connection.check();
        return state;
    }

    void saveMpd()
    {
        saved_ = readMpd();
        auto connection = mpd();
        mpd_run_stop(connection.get());
        connection.check();
    }

    void restoreMpd()
    {
        auto now = readMpd();
        auto connection = mpd();
        mpd_run_stop(connection.get());
        for (const auto &name : now.playlists) {
            if (std::find(saved_->playlists.begin(), saved_->playlists.end(), name) ==
                saved_->playlists.end())
                mpd_run_rm(connection.get(), name.c_str());
        }
        mpd_run_clear(connection.get());
        for (const auto &uri : saved_->queue)
            mpd_run_add(connection.get(), uri.c_str());
        if (saved_->volume >= 0)
            mpd_run_set_volume(connection.get(), static_cast<unsigned>(saved_->volume));
        mpd_run_repeat(connection.get(), saved_->repeat);
        mpd_run_random(connection.get(), saved_->random);
        mpd_run_single(connection.get(), saved_->single);
        connection.check();
    }

    // MPD's state and the persistent ID of its current song.
    std::pair<mpd_state, std::string> mpdPlays() const
    {
        auto connection = mpd();
        mpd::StatusPtr status(mpd_run_status(connection.get()));
        mpd::SongPtr song(mpd_run_current_song(connection.get()));
        connection.check();
        std::string id = song ? formatPersistentID(mpd::songPersistentID(mpd_song_get_uri(song.get()))) : "";
        return {mpd_status_get_state(status.get()), id};
    }

    glib::VariantPtr control(const char *method, GVariant *parameters = nullptr)
    {
        GError *error = nullptr;
        glib::VariantPtr reply(g_dbus_connection_call_sync(bus_.get(), playerName_.c_str(), controlPath,
                                                           controlInterface, method, parameters, nullptr,
                                                           G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error));
        if (!reply) {
            ADD_FAILURE() << method << ": " << error->message;
            g_clear_error(&error);
        }
        return reply;
    }

    // A 200 s track in the stub player, playing (or paused) at 10 s.
    void stubHasTrack(const char *status, const std::string &url = stubURL)
    {
        GVariantBuilder metadata;
        g_variant_builder_init(&metadata, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&metadata, "{sv}", "mpris:trackid",
                              g_variant_new_object_path("/com/spotify/track/4uLU6hMCjMI75M1A2tKUQC"));
        g_variant_builder_add(&metadata, "{sv}", "mpris:length", g_variant_new_int64(200'000'000));
        g_variant_builder_add(&metadata, "{sv}", "xesam:url", g_variant_new_string(url.c_str()));
        g_variant_builder_add(&metadata, "{sv}", "xesam:title", g_variant_new_string("Stub Song"));
        GVariantBuilder settings;
        g_variant_builder_init(&settings, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&settings, "{sv}", "PlaybackStatus", g_variant_new_string(status));
        g_variant_builder_add(&settings, "{sv}", "Metadata", g_variant_builder_end(&metadata));
        g_variant_builder_add(&settings, "{sv}", "Position", g_variant_new_int64(10'000'000));
        control("Configure", g_variant_new("(a{sv})", &settings));
    }

    std::vector<std::string> stubCalls()
    {
        auto reply = control("Calls");
        std::vector<std::string> calls;
        if (!reply)
            return calls;
        GVariantIter *iter = nullptr;
        g_variant_get(reply.get(), "(as)", &iter);
        const gchar *call = nullptr;
        while (g_variant_iter_next(iter, "&s", &call))
            calls.emplace_back(call);
        g_variant_iter_free(iter);
        return calls;
    }

    Reply handle(const std::string &method, json::object params = {})
    {
        return worker_->handle({method, std::move(params)});
    }

    // The device follows the stub player: it plays and the music app does not.
    void followSpotify(const std::string &url = stubURL)
    {
        stubHasTrack("Playing", url);
        clock_.advance(5s);
        auto reading = handle("getNowPlaying").result.value();
        ASSERT_EQ(reading.at("persistentID"), json::value(url)) << json::serialize(reading);
        ASSERT_EQ(worker_->currentPlaybackBackendID(), "system:spotify");
    }

    // The songs as the library lists them from MPD.
    json::array songRows()
    {
        return handle("getList", {{"path", "music/songs"}}).result.value().at("items").as_array();
    }

    std::string playerName_;
    std::filesystem::path runtime_;
    mpd::MpdAddress mpdAddress_;
    std::optional<MpdState> saved_;
    glib::ObjectPtr<GDBusConnection> bus_;
    ToolScriptRunner runner_;
    InMemoryUserDefaults defaults_;
    ManualClock clock_;
    FakeHostFacts host_;
    std::optional<SwitchableApplications> applications_;
    std::optional<MediaWorker> worker_;
};

TEST_F(MediaWorkerPlayers, APlayedCollectionPlaysTheChosenSongInMpd)
{
    auto rows = songRows();
    ASSERT_GE(rows.size(), 3u);
    const auto &chosen = rows[2].as_object();
    std::string id(chosen.at("id").as_string());
    auto reply = handle("playCollection", {{"path", "music/songs"},
                                           {"id", id},
                                           {"index", 2},
                                           {"volume", 30},
                                           {"shuffle", "Off"},
                                           {"repeat", "Off"}});
    ASSERT_TRUE(reply.nowPlaying);
    EXPECT_EQ(reply.result.value().at("nowPlaying"), *reply.nowPlaying);

    auto reading = handle("getNowPlaying").result.value();
    const std::string trackID = id.substr(trackIDPrefix.size());
    EXPECT_EQ(reading.at("persistentID"), json::value(trackID)) << json::serialize(reading);
    EXPECT_EQ(reading.at("title"), chosen.at("title"));
    EXPECT_EQ(reading.at("isPlaying"), true);
    EXPECT_EQ(reading.at("queuePosition"), 3);
    EXPECT_EQ(reading.at("queueCount"), static_cast<std::int64_t>(rows.size()));
    EXPECT_EQ(mpdPlays(), std::make_pair(MPD_STATE_PLAY, trackID));
    EXPECT_TRUE(worker_->musicUsesLogicalQueue());
}

TEST_F(MediaWorkerPlayers, TheSystemTransportFollowsSpotifyWithinTheProbeTime)
{
    handle("ready");
    ASSERT_EQ(worker_->currentPlaybackBackendID(), "system:music");
    stubHasTrack("Playing");
    clock_.advance(1900ms);
    auto early = worker_->pollNowPlaying({});
    EXPECT_EQ(worker_->currentPlaybackBackendID(), "system:music") << "no probe within 2 s";
    if (early) {
        EXPECT_NE(early->at("persistentID"), stubURL);
    }

    clock_.advance(100ms);
    auto payload = worker_->pollNowPlaying({});
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->at("source"), "system");
    EXPECT_EQ(payload->at("persistentID"), stubURL);
    EXPECT_EQ(payload->at("title"), "Stub Song");
    EXPECT_EQ(payload->at("isPlaying"), true);
    EXPECT_EQ(payload->at("volume"), 100.0);
    EXPECT_EQ(worker_->currentPlaybackBackendID(), "system:spotify");
    // The user's shuffle and repeat (off) went to the player that took over.
    auto calls = stubCalls();
    EXPECT_THAT(calls, Contains("Set Shuffle false"));
    EXPECT_THAT(calls, Contains("Set LoopStatus None"));
}

TEST_F(MediaWorkerPlayers, PlayingMusicWhileSpotifyPlaysPausesSpotify)
{
    auto rows = songRows();
    ASSERT_FALSE(rows.empty());
    std::string id(rows[0].at("id").as_string());
    followSpotify();

    handle("select", {{"id", id}, {"volume", 30}, {"shuffle", "Off"}, {"repeat", "Off"}});
    EXPECT_THAT(stubCalls(), Contains("Pause"));
    EXPECT_EQ(mpdPlays(), std::make_pair(MPD_STATE_PLAY, id.substr(trackIDPrefix.size())));
    EXPECT_EQ(worker_->currentPlaybackBackendID(), "system:music");
    auto reading = handle("getNowPlaying").result.value();
    EXPECT_EQ(reading.at("persistentID"), json::value(id.substr(trackIDPrefix.size())));
}

TEST_F(MediaWorkerPlayers, ASpotifyScanEndsOnEndSeekWithNoProcessLeft)
{
    // The scan script carries the track's URL as a string literal; quotes, backslashes and line
    // breaks must reach the player as they came, or the scan would stop at once.
    for (const std::string &url :
         {std::string(stubURL), std::string("spotify:track:\"odd\" \\ name\nline")}) {
        SCOPED_TRACE(url);
        followSpotify(url);
        control("Reset");
        stubHasTrack("Playing", url);
        ASSERT_TRUE(childProcesses().empty());

        EXPECT_FALSE(handle("beginSeek", {{"direction", 1}}).result);
        EXPECT_EQ(childProcesses().size(), 1u) << "the scan runs in the background";
        ASSERT_TRUE(eventually([&] {
            auto calls = stubCalls();
            return std::any_of(calls.begin(), calls.end(),
                               [](const std::string &c) { return c.starts_with("SetPosition"); });
        })) << "the scan moves the player";

        auto reply = handle("endSeek");
        EXPECT_TRUE(reply.nowPlaying);
        EXPECT_TRUE(eventually([] {
            return childProcesses().empty() && AppleScript::registeredScriptCount() == 0;
        })) << childProcesses().size()
            << " processes left";
        auto moves = stubCalls().size();
        std::this_thread::sleep_for(500ms);
        EXPECT_EQ(stubCalls().size(), moves) << "nothing moves the player any more";
    }
}

TEST_F(MediaWorkerPlayers, WithSpotifyGoneItsCommandsSayItIsNotRunning)
{
    followSpotify();
    applications_->spotifyQuit = true;
    const std::pair<const char *, json::object> commands[] = {
        {"playPause", {}},
        {"pause", {}},
        {"skip", {{"direction", -1}}},
        {"seek", {{"seconds", 30}}},
        {"beginSeek", {}},
        {"setVolume", {{"volume", 20}}},
        {"setPlaybackSetting", {{"setting", "shuffle"}, {"value", "On"}}},
    };
    for (const auto &[method, params] : commands) {
        SCOPED_TRACE(method);
        try {
            handle(method, params);
            ADD_FAILURE() << "no error";
        } catch (const std::exception &error) {
            EXPECT_STREQ(error.what(), "Spotify is not running.");
        }
    }
    EXPECT_EQ(stubCalls(), std::vector<std::string>{}) << "no command reached the player";
}

} // namespace
} // namespace wheelbox::test
