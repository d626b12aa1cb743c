// The Spotify scripts, run through the built tool against the stub MPRIS player of
// tests/services, with the client's quirks switched on and off.

#include "ParameterNames.hpp"
#include "ScriptFixtures.hpp"
#include "SpotifyPositionEstimate.hpp"
#include "ToolProcess.hpp"
#include "lib/glib/GLibPointers.hpp"
#include "support/ServiceEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

namespace wheelbox::osascript {
namespace {

using namespace std::chrono_literals;
using test::quote;
using test::script;
using test::scriptLine;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char *trackPath = "/com/spotify/track/4uLU6hMCjMI75M1A2tKUQC";

std::vector<std::string> fields(std::string text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream(text);
    while (std::getline(stream, part, '\x1f'))
        parts.push_back(part);
    return parts;
}

class osascriptSpotifyTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        WHEELBOX_SERVICE_VARIABLE(address, "WHEELBOX_TEST_DBUS_ADDRESS");
        WHEELBOX_SERVICE_VARIABLE(busName, "WHEELBOX_TEST_MPRIS_NAME");
        GError *error = nullptr;
        bus.reset(g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error));
        glib::throwIfError(error);
        runtime = std::filesystem::temp_directory_path() /
                  ("wheelbox-osascript-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(runtime);
        control("Reset", nullptr);
    }

    void TearDown() override
    {
        if (!bus)
            return;
        control("Reset", nullptr);
        std::filesystem::remove_all(runtime);
    }

    glib::VariantPtr control(const char *method, GVariant *parameters)
    {
        GError *error = nullptr;
        glib::VariantPtr reply(g_dbus_connection_call_sync(
            bus.get(), busName.c_str(), "/com/velto/test/StubPlayer", "com.velto.test.StubPlayer", method,
            parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error));
        glib::throwIfError(error);
        return reply;
    }

    // A playing track of 200 s at 12 s, with the quirks named.
    void configure(std::initializer_list<const char *> quirks = {}, const char *status = "Playing",
                   gint64 position = 12'000'000, const char *trackID = trackPath)
    {
        GVariantBuilder metadata;
        g_variant_builder_init(&metadata, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&metadata, "{sv}", "mpris:trackid", g_variant_new_string(trackID));
        g_variant_builder_add(&metadata, "{sv}", "mpris:length", g_variant_new_int64(200'000'000));
        g_variant_builder_add(&metadata, "{sv}", "xesam:url",
                              g_variant_new_string("https://open.spotify.com/track/4uLU6hMCjMI75M1A2tKUQC"));
        g_variant_builder_add(&metadata, "{sv}", "xesam:title",
                              g_variant_new_string("Señor \"Quote\" \\ Song"));
        const char *artists[] = {"First", "Second", nullptr};
        g_variant_builder_add(&metadata, "{sv}", "xesam:artist", g_variant_new_strv(artists, -1));
        g_variant_builder_add(&metadata, "{sv}", "xesam:album", g_variant_new_string("Album ☕"));
        GVariantBuilder settings;
        g_variant_builder_init(&settings, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&settings, "{sv}", "PlaybackStatus", g_variant_new_string(status));
        g_variant_builder_add(&settings, "{sv}", "Metadata", g_variant_builder_end(&metadata));
        g_variant_builder_add(&settings, "{sv}", "Position", g_variant_new_int64(position));
        for (const char *quirk : quirks)
            g_variant_builder_add(&settings, "{sv}", quirk, g_variant_new_boolean(true));
        control("Configure", g_variant_new("(a{sv})", &settings));
    }

    std::vector<std::string> calls()
    {
        auto reply = control("Calls", nullptr);
        std::vector<std::string> result;
        GVariantIter *iter = nullptr;
        g_variant_get(reply.get(), "(as)", &iter);
        const gchar *call = nullptr;
        while (g_variant_iter_next(iter, "&s", &call))
            result.emplace_back(call);
        g_variant_iter_free(iter);
        return result;
    }

    test::ToolResult run(const std::string &program, const std::string &name = "")
    {
        return test::runTool(program, {{"DBUS_SESSION_BUS_ADDRESS", address},
                                       {"WHEELBOX_SPOTIFY_BUS_NAME", name.empty() ? busName : name},
                                       {"XDG_RUNTIME_DIR", runtime.string()}});
    }

    std::vector<std::string> nowPlaying()
    {
        auto reading = run(script("spotify-now-playing", {}, 2));
        EXPECT_EQ(reading.exitStatus, 0) << reading.error;
        return fields(reading.output);
    }

    std::string address;
    std::string busName;
    std::filesystem::path runtime;
    glib::ObjectPtr<GDBusConnection> bus;
    static inline int counter = 0;
};

TEST_F(osascriptSpotifyTest, NowPlayingReadsTheTrackWhicheverTypesTheClientUses)
{
    for (auto quirks : {std::initializer_list<const char *>{},
                        std::initializer_list<const char *>{"TrackIdAsString", "LengthAsUint64"}}) {
        configure(quirks);
        auto reading = nowPlaying();
        ASSERT_EQ(reading.size(), 7u);
        EXPECT_EQ(reading[0], "https://open.spotify.com/track/4uLU6hMCjMI75M1A2tKUQC");
        EXPECT_EQ(reading[1], "Señor \"Quote\" \\ Song");
        EXPECT_EQ(reading[2], "First, Second");
        EXPECT_EQ(reading[3], "Album ☕");
        EXPECT_NEAR(std::stod(reading[4]), 12.0, 1.0);
        EXPECT_EQ(reading[5], "200.0");
        EXPECT_EQ(reading[6], "playing");
    }
}

TEST_F(osascriptSpotifyTest, NowPlayingWithoutATrackFailsInSpotifysWords)
{
    auto reading = run(script("spotify-now-playing", {}, 2));
    EXPECT_EQ(reading.exitStatus, 1);
    EXPECT_THAT(reading.error,
                HasSubstr("execution error: Spotify got an error: Can’t get current track. (-1728)"));
}

TEST_F(osascriptSpotifyTest, APlayerThatIsNotThereReadsAsNotRunning)
{
    auto reading = run(script("spotify-now-playing", {}, 2), "org.mpris.MediaPlayer2.nobody");
    EXPECT_EQ(reading.exitStatus, 1);
    EXPECT_THAT(reading.error, HasSubstr("Spotify got an error: Application isn’t running. (-600)"));
}

TEST_F(osascriptSpotifyTest, APositionReportedAsZeroIsEstimatedFromWhenTheTrackWasSeen)
{
    // The client's own form of a track id, which is no object path.
    configure({"PositionAlwaysZero", "TrackIdAsString"}, "Playing", 0,
              "spotify:track:4uLU6hMCjMI75M1A2tKUQC");
    EXPECT_EQ(nowPlaying().at(4), "0.0");
    std::this_thread::sleep_for(1200ms);
    EXPECT_NEAR(std::stod(nowPlaying().at(4)), 1.2, 0.4);

    // Without a track path only a relative seek reaches the player; the estimate follows it.
    ASSERT_EQ(run(scriptLine("spotify-commands", 4, {{"word", "30.0"}})).exitStatus, 0);
    EXPECT_NEAR(std::stod(nowPlaying().at(4)), 30.0, 0.4);
    auto seek = calls().back();
    ASSERT_THAT(seek, HasSubstr("Seek "));
    EXPECT_NEAR(std::stod(seek.substr(5)) / 1e6, 28.8, 0.5);

    ASSERT_EQ(run(scriptLine("spotify-commands", 1)).exitStatus, 0);
    double pausedAt = std::stod(nowPlaying().at(4));
    std::this_thread::sleep_for(600ms);
    EXPECT_NEAR(std::stod(nowPlaying().at(4)), pausedAt, 0.05);
}

struct CommandCase {
    int line;
    const char *word;
    const char *call;
    friend void PrintTo(const CommandCase &c, std::ostream *os)
    {
        test::printParameter(std::to_string(c.line) + " " + c.word + " " + c.call, os);
    }
};

class osascriptSpotifyCommandTest : public osascriptSpotifyTest,
                                    public ::testing::WithParamInterface<CommandCase> {};

TEST_P(osascriptSpotifyCommandTest, ReachesThePlayerAsOneCall)
{
    configure();
    auto ran = run(scriptLine("spotify-commands", GetParam().line, {{"word", GetParam().word}}));
    ASSERT_EQ(ran.exitStatus, 0) << ran.error;
    EXPECT_THAT(calls(), ElementsAre(GetParam().call));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, osascriptSpotifyCommandTest,
    ::testing::Values(
        CommandCase{0, "", "PlayPause"}, CommandCase{1, "", "Pause"}, CommandCase{2, "", "Play"},
        CommandCase{3, "next track", "Next"}, CommandCase{3, "previous track", "Previous"},
        CommandCase{4, "42.0", "SetPosition /com/spotify/track/4uLU6hMCjMI75M1A2tKUQC 42000000"},
        CommandCase{5, "30.0", "Set Volume 0.3"}, CommandCase{6, "true", "Set Shuffle true"},
        CommandCase{7, "true", "Set LoopStatus Playlist"}, CommandCase{7, "false", "Set LoopStatus None"},
        CommandCase{8, "", "Set LoopStatus None"}));

TEST_F(osascriptSpotifyTest, VolumeReadsAsAWholeNumber)
{
    configure();
    ASSERT_EQ(run(scriptLine("spotify-commands", 5, {{"word", "37.0"}})).exitStatus, 0);
    EXPECT_EQ(run(scriptLine("spotify-commands", 9, {}, 3)).output, "37\n");
}

TEST_F(osascriptSpotifyTest, TheScanStepsToTheEndOfTheTrackAndStops)
{
    configure({}, "Paused", 193'000'000);
    auto scan = run(script(
        "spotify-scan",
        {{"startingURI", quote("https://open.spotify.com/track/4uLU6hMCjMI75M1A2tKUQC")}, {"sign", "1"}},
        95));
    ASSERT_EQ(scan.exitStatus, 0) << scan.error;
    auto made = calls();
    ASSERT_FALSE(made.empty());
    std::string prefix = "SetPosition " + std::string(trackPath) + " ";
    EXPECT_EQ(made.front(), prefix + "194250000");
    EXPECT_EQ(made.back(), prefix + "199750000");
}

// The client reports 0 and its track id is no object path: the scan still walks the track, on the
// estimated position, with relative seeks.
TEST_F(osascriptSpotifyTest, TheScanWorksWhenThePlayerReportsNoPosition)
{
    configure({"PositionAlwaysZero", "TrackIdAsString"}, "Paused", 0, "spotify:track:4uLU6hMCjMI75M1A2tKUQC");
    ASSERT_EQ(run(scriptLine("spotify-commands", 4, {{"word", "190.0"}})).exitStatus, 0);
    auto scan = run(script(
        "spotify-scan",
        {{"startingURI", quote("https://open.spotify.com/track/4uLU6hMCjMI75M1A2tKUQC")}, {"sign", "1"}},
        95));
    ASSERT_EQ(scan.exitStatus, 0) << scan.error;
    double moved = 0;
    for (const auto &call : calls()) {
        ASSERT_THAT(call, HasSubstr("Seek "));
        moved += std::stod(call.substr(5)) / 1e6;
    }
    EXPECT_NEAR(moved, 199.75, 0.01);
    EXPECT_NEAR(std::stod(nowPlaying().at(4)), 199.75, 0.01);
}

TEST_F(osascriptSpotifyTest, TheScanEndsAtOnceForAnotherTrack)
{
    configure();
    auto scan =
        run(script("spotify-scan", {{"startingURI", quote("spotify:track:\"other\"")}, {"sign", "-1"}}, 95));
    ASSERT_EQ(scan.exitStatus, 0) << scan.error;
    EXPECT_TRUE(calls().empty());
}

// The estimate itself, on a clock the test moves.
TEST(osascriptSpotifyPositionEstimateTest, FollowsPlayPauseAndMovesBetweenRuns)
{
    auto file =
        std::filesystem::temp_directory_path() / ("wheelbox-estimate-" + std::to_string(getpid())) / "state";
    std::int64_t now = 1'000'000'000;
    auto estimate = [&] {
        return SpotifyPositionEstimate(file, [&] { return now; });
    };
    EXPECT_DOUBLE_EQ(estimate().read("a", true, 0, 100), 0.0);
    now += 5'000'000'000;
    EXPECT_DOUBLE_EQ(estimate().read("a", false, 0, 100), 5.0); // paused now: anchored at 5
    now += 5'000'000'000;
    EXPECT_DOUBLE_EQ(estimate().read("a", false, 0, 100), 5.0);
    estimate().moved("a", 90.0, true);
    now += 20'000'000'000;
    EXPECT_DOUBLE_EQ(estimate().read("a", true, 0, 100), 100.0); // never past the end
    EXPECT_DOUBLE_EQ(estimate().read("b", true, 0, 100), 0.0);   // another track starts over
    EXPECT_DOUBLE_EQ(estimate().read("b", true, 7.5, 100), 7.5); // a reported position wins
    std::filesystem::remove_all(file.parent_path());
}

} // namespace
} // namespace wheelbox::osascript
