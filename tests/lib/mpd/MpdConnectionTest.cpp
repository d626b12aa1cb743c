#include "lib/mpd/MpdConnection.hpp"

#include "support/FakeMpdServer.hpp"

#include <gtest/gtest.h>

namespace wheelbox::mpd {
namespace {

using namespace std::chrono_literals;

// libmpdclient 2.20 reads the part of a timeout below a second as microseconds; a script's
// "with timeout of 0.5 seconds" must still wait for a server that greets a little late, and must
// not wait long for one that never does in time.
TEST(MpdConnectionTest, ConnectingHonoursASubSecondTimeout)
{
    struct Case {
        std::chrono::milliseconds greetingDelay;
        std::chrono::milliseconds timeout;
        bool opens;
        std::chrono::milliseconds atMost;
    };
    const Case cases[] = {
        {200ms, 500ms, true, 1000ms},
        {3000ms, 500ms, false, 2000ms},
    };
    for (const Case &c : cases) {
        test::FakeMpdServer server([](auto &) { return test::FakeMpdServer::ok(); }, c.greetingDelay);
        auto began = std::chrono::steady_clock::now();
        bool opened = false;
        try {
            MpdConnection::open(MpdAddress{server.socketPath(), 0, std::nullopt}, c.timeout);
            opened = true;
        } catch (const MpdError &error) {
            EXPECT_EQ(error.error(), MPD_ERROR_TIMEOUT) << error.what();
        }
        auto waited = std::chrono::steady_clock::now() - began;
        EXPECT_EQ(opened, c.opens) << c.greetingDelay.count();
        EXPECT_LT(waited, c.atMost) << c.greetingDelay.count();
        if (!c.opens) {
            EXPECT_GE(waited, c.timeout);
        }
    }
}

// MPD_HOST and MPD_PORT as every MPD client reads them.
TEST(MpdConnectionTest, AddressesAreReadAsMpdClientsReadThem)
{
    struct Case {
        const char *host;
        const char *port;
        const char *expectedHost;
        unsigned expectedPort;
        std::optional<std::string> password;
    };
    const Case cases[] = {
        {"", "", "localhost", 6600, std::nullopt},
        {"music.local", "", "music.local", 6600, std::nullopt},
        {"music.local", "6601", "music.local", 6601, std::nullopt},
        {"secret@music.local", "6601", "music.local", 6601, "secret"},
        {"/run/mpd/socket", "6601", "/run/mpd/socket", 0, std::nullopt},
        {"secret@/run/mpd/socket", "", "/run/mpd/socket", 0, "secret"},
        {"@mpd", "", "@mpd", 0, std::nullopt},
        {"pass@@mpd", "", "@mpd", 0, "pass"},
        {"music.local", "0", "music.local", 6600, std::nullopt},
        {"music.local", "70000", "music.local", 6600, std::nullopt},
        {"music.local", "66x", "music.local", 6600, std::nullopt},
    };
    for (const Case &c : cases) {
        auto address = parseMpdAddress(c.host, c.port);
        EXPECT_EQ(address.host, c.expectedHost) << c.host << " " << c.port;
        EXPECT_EQ(address.port, c.expectedPort) << c.host << " " << c.port;
        EXPECT_EQ(address.password, c.password) << c.host << " " << c.port;
    }
}

} // namespace
} // namespace wheelbox::mpd
