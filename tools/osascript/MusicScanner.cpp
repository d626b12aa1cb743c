#include "MusicScanner.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace wheelbox::osascript {
namespace {

constexpr const char *scanChannel = "wheelbox-scan";
constexpr int maximumTicks = 450;
constexpr auto tickInterval = std::chrono::milliseconds(200);
constexpr auto connectTimeout = std::chrono::milliseconds(2000);
// Where a scanner reports that it listens.
constexpr int readyDescriptor = 3;

// Waits one tick for a message on the scan channel; true when one came.
bool stopRequested(const mpd::MpdConnection &connection)
{
    mpd_connection *raw = connection.get();
    if (!mpd_send_idle_mask(raw, MPD_IDLE_MESSAGE))
        return true;
    pollfd descriptor{mpd_connection_get_fd(raw), POLLIN, 0};
    int ready = poll(&descriptor, 1, static_cast<int>(tickInterval.count()));
    if (ready == 0)
        mpd_send_noidle(raw);
    auto events = mpd_recv_idle(raw, false);
    connection.check();
    return (events & MPD_IDLE_MESSAGE) != 0;
}

void scan(const mpd::MpdAddress &address, const ScanRequest &request)
{
    auto connection = mpd::MpdConnection::open(address, connectTimeout);
    mpd_run_subscribe(connection.get(), scanChannel);
    connection.check();
    char ready = 1;
    [[maybe_unused]] auto written = write(readyDescriptor, &ready, 1);
    close(readyDescriptor);

    double limit = std::max(0.0, request.duration - 0.5);
    for (int tick = 1; tick <= maximumTicks; ++tick) {
        mpd::StatusPtr status(mpd_run_status(connection.get()));
        connection.check();
        // The user has moved on: another song, or nothing playing at all.
        if (mpd_status_get_state(status.get()) == MPD_STATE_STOP ||
            mpd_status_get_song_id(status.get()) != static_cast<int>(request.songID))
            return;
        double target = scanTarget(request, tick);
        mpd_run_seek_current(connection.get(), static_cast<float>(target), false);
        connection.check();
        if (target <= 0 || target >= limit)
            return;
        if (stopRequested(connection))
            return;
    }
}

std::string number(double value)
{
    char text[64];
    auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : "0";
}

template <typename Number> std::optional<Number> parse(std::string_view text)
{
    Number value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The tool's environment with the scanner's MPD in place of whatever MPD_HOST and MPD_PORT said.
std::vector<std::string> scannerEnvironment(const mpd::MpdAddress &address)
{
    std::vector<std::string> environment;
    for (char **entry = environ; entry && *entry; ++entry) {
        std::string_view text(*entry);
        if (!text.starts_with("MPD_HOST=") && !text.starts_with("MPD_PORT="))
            environment.emplace_back(text);
    }
    environment.push_back("MPD_HOST=" + (address.password ? *address.password + "@" : std::string()) +
                          address.host);
    if (address.port != 0)
        environment.push_back("MPD_PORT=" + std::to_string(address.port));
    return environment;
}

} // namespace

int runScanner(std::span<const char *const> arguments) noexcept
{
    // direction, song id, start position, duration: as startScanner writes them.
    if (arguments.size() != 4)
        return 2;
    auto direction = parse<int>(arguments[0]);
    auto songID = parse<unsigned>(arguments[1]);
    auto start = parse<double>(arguments[2]);
    auto duration = parse<double>(arguments[3]);
    if (!direction || !songID || !start || !duration)
        return 2;
    try {
        scan(mpd::defaultMpdAddress(), ScanRequest{*direction, *songID, *start, *duration});
    } catch (...) {
        // A scanner that loses MPD simply ends.
    }
    return 0;
}

namespace {} // namespace

double scanTarget(const ScanRequest &request, int tick) noexcept
{
    double offset = 0;
    for (int i = 1; i <= tick; ++i)
        offset += i <= 10 ? 1.25 : i <= 25 ? 2.5 : 5.0;
    double limit = std::max(0.0, request.duration - 0.5);
    return std::clamp(request.startPosition + request.direction * offset, 0.0, limit);
}

void startScanner(const mpd::MpdAddress &address, const ScanRequest &request)
{
    auto fail = [](const char *message) {
        throw mpd::MpdError(message, MPD_ERROR_SYSTEM, std::nullopt);
    };
    char self[4096];
    auto length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        fail("Can’t start the scan.");
    self[length] = '\0';

    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        fail("Can’t start the scan.");
    // The tool itself in its scan mode: a session of its own (a deadline kill of this run spares
    // it), the null device for its standard streams (the runner reads this run's output to its
    // end), and no descriptor besides the readiness pipe.
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        ::posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    ::posix_spawn_file_actions_adddup2(&actions, ready[1], readyDescriptor);
    ::posix_spawn_file_actions_addclosefrom_np(&actions, readyDescriptor + 1);
    sigset_t none;
    sigset_t all;
    ::sigemptyset(&none);
    ::sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setflags(&attributes,
                               POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> texts = {self,
                                      scanModeArgument,
                                      std::to_string(request.direction),
                                      std::to_string(request.songID),
                                      number(request.startPosition),
                                      number(request.duration)};
    std::vector<char *> argv;
    for (auto &text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    auto environment = scannerEnvironment(address);
    std::vector<char *> envp;
    for (auto &entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    pid_t scanner = 0;
    int spawned = ::posix_spawn(&scanner, self, &actions, &attributes, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    ::close(ready[1]);
    if (spawned != 0) {
        ::close(ready[0]);
        fail("Can’t start the scan.");
    }
    // The scanner outlives this run; once the run has ended, init reaps it.
    pollfd descriptor{ready[0], POLLIN, 0};
    char byte = 0;
    bool listening = ::poll(&descriptor, 1, static_cast<int>(connectTimeout.count()) + 500) == 1 &&
                     ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (!listening)
        fail("The scan could not reach the player.");
}

void stopScanners(const mpd::MpdConnection &connection)
{
    if (!mpd_run_send_message(connection.get(), scanChannel, "stop")) {
        auto serverError = mpd_connection_get_error(connection.get()) == MPD_ERROR_SERVER
                               ? std::optional(mpd_connection_get_server_error(connection.get()))
                               : std::nullopt;
        // Nobody listens: no scan runs.
        if (serverError == MPD_SERVER_ERROR_NO_EXIST) {
            mpd_connection_clear_error(connection.get());
            return;
        }
        connection.check();
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < deadline) {
        bool listening = false;
        if (!mpd_send_channels(connection.get()))
            connection.check();
        while (mpd_pair *pair = mpd_recv_channel_pair(connection.get())) {
            listening = listening || std::string_view(pair->value) == scanChannel;
            mpd_return_pair(connection.get(), pair);
        }
        mpd_response_finish(connection.get());
        connection.check();
        if (!listening)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace wheelbox::osascript
