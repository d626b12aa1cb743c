#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace wheelbox::test {

// A scripted MPD on a unix socket, for what a real one will not do on request: refuse a command,
// break off a reply, send tag forms its own parsers tidy up. Greets each client and answers each
// command line with the Reply `answer` returns: its whole text (ending in "OK\n" or an ACK line,
// unless it means to break off; none at all for a command that waits, as "idle" does), then the
// connection closes when asked. Clients are served at once, each on a thread of its own, as MPD
// serves them, so `answer` may be called from several threads.
class FakeMpdServer {
  public:
    struct Reply {
        std::string text;
        bool thenClose = false;
        // When set, the text goes a byte at a time, this long apart: a server that trickles.
        std::chrono::milliseconds pace{};
    };
    using Answer = std::function<Reply(const std::string &command)>;

    // `version` is the protocol version the greeting claims.
    explicit FakeMpdServer(Answer answer, std::chrono::milliseconds greetingDelay = {},
                           std::string version = "0.23.5")
        : answer_(std::move(answer)), greetingDelay_(greetingDelay), version_(std::move(version))
    {
        char folder[] = "/tmp/wheelbox-fake-mpd.XXXXXX";
        if (!mkdtemp(folder))
            throw std::runtime_error("mkdtemp failed");
        folder_ = folder;
        path_ = folder_ / "socket";
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.string().copy(address.sun_path, sizeof(address.sun_path) - 1);
        if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
            listen(listener_, 4) != 0)
            throw std::runtime_error("cannot listen on " + path_.string());
        thread_ = std::thread([this] { serve(); });
    }

    ~FakeMpdServer()
    {
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        {
            std::lock_guard lock(mutex_);
            for (int client : clients_)
                shutdown(client, SHUT_RDWR);
        }
        for (auto &talker : talkers_)
            talker.join();
        close(listener_);
        std::filesystem::remove_all(folder_);
    }

    FakeMpdServer(const FakeMpdServer &) = delete;
    FakeMpdServer &operator=(const FakeMpdServer &) = delete;

    std::string socketPath() const { return path_.string(); }

    // The usual answer to a command the script does not care about.
    static Reply ok() { return Reply{"OK\n"}; }

  private:
    void serve()
    {
        while (true) {
            int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                return;
            std::lock_guard lock(mutex_);
            clients_.push_back(client);
            talkers_.emplace_back([this, client] {
                talk(client);
                std::lock_guard ended(mutex_);
                // Closed here only while no shutdown can reach a reused descriptor.
                std::erase(clients_, client);
                close(client);
            });
        }
    }

    void talk(int client)
    {
        std::this_thread::sleep_for(greetingDelay_);
        if (!send("OK MPD " + version_ + "\n", client))
            return;
        std::string buffer;
        char chunk[4096];
        while (true) {
            auto newline = buffer.find('\n');
            if (newline == std::string::npos) {
                auto got = recv(client, chunk, sizeof(chunk), 0);
                if (got <= 0)
                    return;
                buffer.append(chunk, static_cast<std::size_t>(got));
                continue;
            }
            auto command = buffer.substr(0, newline);
            buffer.erase(0, newline + 1);
            auto reply = answer_(command);
            if (!send(reply.text, client, reply.pace) || reply.thenClose)
                return;
        }
    }

    static bool send(const std::string &text, int client, std::chrono::milliseconds pace = {})
    {
        std::size_t sent = 0;
        while (sent < text.size()) {
            if (pace.count() > 0 && sent > 0)
                std::this_thread::sleep_for(pace);
            auto most = pace.count() > 0 ? std::size_t{1} : text.size() - sent;
            auto wrote = ::send(client, text.data() + sent, most, MSG_NOSIGNAL);
            if (wrote <= 0)
                return false;
            sent += static_cast<std::size_t>(wrote);
        }
        return true;
    }

    Answer answer_;
    std::chrono::milliseconds greetingDelay_;
    std::string version_;
    std::filesystem::path folder_;
    std::filesystem::path path_;
    int listener_ = -1;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<int> clients_;
    std::vector<std::thread> talkers_;
};

} // namespace wheelbox::test
