#include "linux/LinuxRunningApplications.hpp"

#include "support/FakeMpdServer.hpp"
#include "support/ServiceEnvironment.hpp"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>

namespace wheelbox {
namespace {

// The private MPD and session bus of tests/services/up, with the stub player owning its name.
class LinuxRunningApplicationsTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        WHEELBOX_SERVICE_VARIABLE(mpdHost_, "WHEELBOX_TEST_MPD_HOST");
        WHEELBOX_SERVICE_VARIABLE(busAddress_, "WHEELBOX_TEST_DBUS_ADDRESS");
        WHEELBOX_SERVICE_VARIABLE(playerName_, "WHEELBOX_TEST_MPRIS_NAME");
    }

    LinuxRunningApplicationsSettings settings() const
    {
        LinuxRunningApplicationsSettings settings;
        settings.mpdAddress = mpd::parseMpdAddress(mpdHost_, "");
        settings.busAddress = busAddress_;
        settings.spotifyBusName = playerName_;
        return settings;
    }

    std::string mpdHost_;
    std::string busAddress_;
    std::string playerName_;
};

TEST_F(LinuxRunningApplicationsTest, BothPlayersRunWhileTheirServicesAnswer)
{
    LinuxRunningApplications applications(settings());

    EXPECT_TRUE(applications.isRunning("com.apple.Music"));
    EXPECT_TRUE(applications.isRunning("com.spotify.client"));
}

TEST_F(LinuxRunningApplicationsTest, OtherIdentifiersNeverRunEvenWithBothServicesUp)
{
    LinuxRunningApplications applications(settings());

    for (auto identifier : {"", "com.apple.music", "com.spotify.Client", "org.mpris.MediaPlayer2.spotify",
                            "com.velto.Wheelbox", "spotify"})
        EXPECT_FALSE(applications.isRunning(identifier)) << identifier;
}

// A socket that accepts connections into its backlog but never says a word, like a hung server.
class SilentSocket {
  public:
    SilentSocket()
    {
        char folder[] = "/tmp/wheelbox-silent.XXXXXX";
        folder_ = mkdtemp(folder);
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path().copy(address.sun_path, sizeof(address.sun_path) - 1);
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
        EXPECT_EQ(listen(fd_, 4), 0);
    }
    ~SilentSocket()
    {
        close(fd_);
        std::filesystem::remove_all(folder_);
    }
    std::string path() const { return (folder_ / "socket").string(); }

  private:
    std::filesystem::path folder_;
    int fd_ = -1;
};

// A local TCP port nothing listens on: bound by the kernel's choice, then released.
unsigned closedPort()
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), length), 0);
    EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length), 0);
    close(fd);
    return ntohs(address.sin_port);
}

TEST(LinuxRunningApplicationsMpdTest, TheMusicAppDoesNotRunWhereNoMpdAnswers)
{
    SilentSocket silent;
    const mpd::MpdAddress addresses[] = {
        {"/nonexistent/wheelbox/mpd/socket", 0, std::nullopt},
        {"127.0.0.1", closedPort(), std::nullopt},
        {"wheelbox-no-such-host.invalid", 6600, std::nullopt},
        {silent.path(), 0, std::nullopt},
    };
    for (auto &address : addresses) {
        LinuxRunningApplicationsSettings settings;
        settings.mpdAddress = address;
        LinuxRunningApplications applications(settings);

        auto began = std::chrono::steady_clock::now();
        EXPECT_FALSE(applications.isRunning("com.apple.Music")) << address.host << ":" << address.port;
        // The whole check, name lookup included, keeps to its half second.
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(900)) << address.host;
    }
}

// The check waits up to half a second for the greeting; a busy MPD takes some of that.
TEST(LinuxRunningApplicationsMpdTest, TheMusicAppRunsWhenItsMpdGreetsWithinTheTimeout)
{
    test::FakeMpdServer slow([](auto &) { return test::FakeMpdServer::ok(); },
                             std::chrono::milliseconds(100));
    LinuxRunningApplicationsSettings settings;
    settings.mpdAddress = mpd::MpdAddress{slow.socketPath(), 0, std::nullopt};
    LinuxRunningApplications applications(settings);

    EXPECT_TRUE(applications.isRunning("com.apple.Music"));
}

// Asks the bus for a name directly (the daemon's own methods), so no main loop is needed.
bool callBus(GDBusConnection *bus, const char *method, const std::string &name)
{
    GError *error = nullptr;
    auto *parameters = method == std::string("RequestName") ? g_variant_new("(su)", name.c_str(), 4u)
                                                            : g_variant_new("(s)", name.c_str());
    glib::VariantPtr reply(g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                       "org.freedesktop.DBus", method, parameters, nullptr,
                                                       G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error));
    if (!reply) {
        ADD_FAILURE() << method << ": " << error->message;
        g_clear_error(&error);
        return false;
    }
    return true;
}

TEST_F(LinuxRunningApplicationsTest, SpotifyRunsExactlyWhileItsNameHasAnOwner)
{
    const std::string name = "org.mpris.MediaPlayer2.wheelbox_probe_" + std::to_string(getpid());
    auto configured = settings();
    configured.spotifyBusName = name;
    LinuxRunningApplications applications(configured);
    GError *error = nullptr;
    auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    glib::ObjectPtr<GDBusConnection> owner(
        g_dbus_connection_new_for_address_sync(busAddress_.c_str(), flags, nullptr, nullptr, &error));
    ASSERT_TRUE(owner) << error->message;

    EXPECT_FALSE(applications.isRunning("com.spotify.client"));
    ASSERT_TRUE(callBus(owner.get(), "RequestName", name));
    EXPECT_TRUE(applications.isRunning("com.spotify.client"));
    ASSERT_TRUE(callBus(owner.get(), "ReleaseName", name));
    EXPECT_FALSE(applications.isRunning("com.spotify.client"));
}

// A bus that never answers must not hold the media worker: the check gives up after its timeout.
TEST(LinuxRunningApplicationsBusTest, SpotifyDoesNotRunWithoutABusThatAnswers)
{
    SilentSocket silent;
    for (auto address : {std::string("unix:path=/nonexistent/wheelbox/bus"), "unix:path=" + silent.path()}) {
        LinuxRunningApplicationsSettings settings;
        settings.busAddress = address;
        LinuxRunningApplications applications(settings);

        auto began = std::chrono::steady_clock::now();
        EXPECT_FALSE(applications.isRunning("com.spotify.client")) << address;
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(900)) << address;
    }
}

} // namespace
} // namespace wheelbox
