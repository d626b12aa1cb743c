#include "MusicScanner.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace wheelbox::osascript {
namespace {

constexpr const char *scanChannel = "wheelbox-scan";
constexpr int maximumTicks = 450;
constexpr auto tickInterval = std::chrono::milliseconds(200);
constexpr auto connectTimeout = std::chrono::milliseconds(2000);

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

void scan(const mpd::MpdAddress &address, const ScanRequest &request, int readyDescriptor)
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

// Runs in the grandchild: a session of its own (a deadline kill of the run spares it), the null
// device for standard streams (the runner reads the run's output to its end), no inherited
// descriptors besides the readiness pipe.
[[noreturn]] void runDetached(const mpd::MpdAddress &address, const ScanRequest &request, int readyDescriptor)
{
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    dup2(readyDescriptor, 3);
    close_range(4, ~0U, 0);
    try {
        scan(address, request, 3);
    } catch (...) {
        // A scanner that loses MPD simply ends.
    }
    _exit(0);
}

} // namespace

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
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        throw mpd::MpdError("Can’t start the scan.", MPD_ERROR_SYSTEM, std::nullopt);
    pid_t child = fork();
    if (child < 0) {
        close(ready[0]);
        close(ready[1]);
        throw mpd::MpdError("Can’t start the scan.", MPD_ERROR_SYSTEM, std::nullopt);
    }
    if (child == 0) {
        close(ready[0]);
        setsid();
        if (fork() != 0)
            _exit(0);
        runDetached(address, request, ready[1]);
    }
    close(ready[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    pollfd descriptor{ready[0], POLLIN, 0};
    char byte = 0;
    bool listening = poll(&descriptor, 1, static_cast<int>(connectTimeout.count()) + 500) == 1 &&
                     read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    if (!listening)
        throw mpd::MpdError("The scan could not reach the player.", MPD_ERROR_SYSTEM, std::nullopt);
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
