#include "lib/mpd/MpdConnection.hpp"

#include "support/FakeMpdServer.hpp"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

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

// A listener whose queue of connections not yet accepted is full, as MPD's (five deep) is while it
// is busy or after clients died before it accepted them. After `acceptAfter` (when given) it
// accepts them all and greets each.
class CrowdedListener {
  public:
    explicit CrowdedListener(std::optional<std::chrono::milliseconds> acceptAfter)
    {
        char folder[] = "/tmp/wheelbox-crowded-XXXXXX";
        if (!mkdtemp(folder))
            throw std::runtime_error("mkdtemp failed");
        folder_ = folder;
        path_ = folder_ / "socket";
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.string().copy(address.sun_path, sizeof(address.sun_path) - 1);
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
            listen(listener_, 1) != 0)
            throw std::runtime_error("cannot listen on " + path_.string());
        // Fill the queue until the socket refuses.
        while (true) {
            int client = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (connect(client, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
                close(client);
                break;
            }
            waiting_.push_back(client);
        }
        if (acceptAfter)
            thread_ = std::thread([this, delay = *acceptAfter] {
                std::this_thread::sleep_for(delay);
                while (!stopping_) {
                    pollfd ready{listener_, POLLIN, 0};
                    if (poll(&ready, 1, 50) <= 0)
                        continue;
                    int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                    if (client < 0)
                        continue;
                    constexpr std::string_view greeting = "OK MPD 0.23.5\n";
                    [[maybe_unused]] auto sent =
                        ::send(client, greeting.data(), greeting.size(), MSG_NOSIGNAL);
                    accepted_.push_back(client);
                }
            });
    }

    ~CrowdedListener()
    {
        stopping_ = true;
        if (thread_.joinable())
            thread_.join();
        for (int fd : waiting_)
            close(fd);
        for (int fd : accepted_)
            close(fd);
        close(listener_);
        std::filesystem::remove_all(folder_);
    }

    MpdAddress address() const { return MpdAddress{path_.string(), 0, std::nullopt}; }
    std::size_t queued() const { return waiting_.size(); }

  private:
    std::filesystem::path folder_;
    std::filesystem::path path_;
    int listener_ = -1;
    std::vector<int> waiting_;
    std::vector<int> accepted_;
    std::atomic<bool> stopping_ = false;
    std::thread thread_;
};

TEST(MpdConnectionTest, AFullQueueOfConnectionsIsWaitedOutUntilTheTimeout)
{
    {
        CrowdedListener listener(300ms);
        ASSERT_GE(listener.queued(), 1u);
        auto began = std::chrono::steady_clock::now();
        EXPECT_NO_THROW(MpdConnection::open(listener.address(), 5s));
        EXPECT_GE(std::chrono::steady_clock::now() - began, 300ms);
    }
    {
        CrowdedListener listener(std::nullopt);
        auto began = std::chrono::steady_clock::now();
        try {
            MpdConnection::open(listener.address(), 500ms);
            ADD_FAILURE() << "opened a connection nobody accepts";
        } catch (const MpdError &error) {
            EXPECT_EQ(error.error(), MPD_ERROR_TIMEOUT) << error.what();
        }
        auto waited = std::chrono::steady_clock::now() - began;
        EXPECT_GE(waited, 400ms);
        EXPECT_LT(waited, 3s);
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

// A line over libmpdclient's buffer comes as a malformed reply like any other; only it means "the
// lines before arrived whole, open a new connection and go on after it".
TEST(MpdConnectionTest, ALineTooLongIsToldFromOtherFailures)
{
    struct Case {
        const char *what;
        std::string reply;
        std::optional<bool> lineTooLong; // nothing: the reply is read whole
    };
    auto titleLine = [](std::size_t bytes) {
        return "Title: " + std::string(bytes - 8, 'x') + "\n";
    };
    const Case cases[] = {
        {"a line that just fits", "file: a.flac\n" + titleLine(longestReplyLine) + "OK\n", std::nullopt},
        {"one byte over", "file: a.flac\n" + titleLine(longestReplyLine + 1) + "OK\n", true},
        {"far over", "file: a.flac\n" + titleLine(100'000) + "OK\n", true},
        {"a line that is not a pair", "file: a.flac\nnot a pair\nOK\n", false},
        {"a refusal", "ACK [50@0] {currentsong} No such song\n", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        test::FakeMpdServer server([&](const std::string &) { return test::FakeMpdServer::Reply{c.reply}; });
        auto connection = MpdConnection::open(MpdAddress{server.socketPath(), 0, std::nullopt}, 5s);

        ASSERT_TRUE(mpd_send_command(connection.get(), "currentsong", nullptr));
        std::size_t pairs = 0;
        while (auto *pair = mpd_recv_pair(connection.get())) {
            ++pairs;
            mpd_return_pair(connection.get(), pair);
        }
        if (c.lineTooLong) {
            try {
                connection.check();
                FAIL() << "no error";
            } catch (const MpdError &error) {
                EXPECT_EQ(error.isLineTooLong(), *c.lineTooLong) << error.what();
            }
        } else {
            EXPECT_NO_THROW(connection.check());
            EXPECT_EQ(pairs, 2u);
        }
    }
}

} // namespace
} // namespace wheelbox::mpd
