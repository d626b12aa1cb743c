#include "transport/AppleScriptExchange.hpp"

#include "lib/posix/BrokenPipe.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace wheelbox::AppleScript {
namespace {

using std::chrono::steady_clock;

// write(2) on a pipe whose reader has gone raises SIGPIPE; the guard turns it into EPIPE.
ssize_t writeWithoutSigpipe(int fd, const char *data, std::size_t size) noexcept
{
    posix::SigpipeGuard guard;
    ssize_t written;
    do {
        written = ::write(fd, data, size);
    } while (written < 0 && errno == EINTR);
    return written;
}

// Reads what the pipe holds now, without waiting for more, keeping at most `room` more bytes; what
// lies beyond is read and dropped. Closes the pipe at end of file. True when something was dropped.
bool drain(FileDescriptor &fd, std::string &into, std::size_t &room)
{
    std::array<char, 65536> buffer;
    bool dropped = false;
    while (fd.isOpen()) {
        ssize_t count = ::read(fd.get(), buffer.data(), buffer.size());
        if (count > 0) {
            auto kept = std::min(static_cast<std::size_t>(count), room);
            into.append(buffer.data(), kept);
            room -= kept;
            dropped = dropped || kept < static_cast<std::size_t>(count);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else if (count < 0 && errno == EAGAIN) {
            break;
        } else {
            fd.reset();
        }
    }
    return dropped;
}

int pollUntil(std::vector<pollfd> &watches, steady_clock::time_point deadline)
{
    auto remaining = std::max(deadline - steady_clock::now(), steady_clock::duration::zero());
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(remaining);
    auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(remaining - seconds);
    timespec timeout{static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())};
    int ready = ::ppoll(watches.data(), watches.size(), &timeout, nullptr);
    if (ready < 0 && errno != EINTR) {
        // Out of kernel memory: try again shortly rather than spin.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ready;
}

enum class WriteStep { pending, done, failed };

// Writes what the non-blocking pipe takes now; closes it once everything is written.
WriteStep writeSome(FileDescriptor &input, std::string_view text, std::size_t &written) noexcept
{
    while (written < text.size()) {
        ssize_t count = writeWithoutSigpipe(input.get(), text.data() + written, text.size() - written);
        if (count < 0)
            return errno == EAGAIN ? WriteStep::pending : WriteStep::failed;
        written += static_cast<std::size_t>(count);
    }
    return input.reset() ? WriteStep::done : WriteStep::failed;
}

} // namespace

Exchange exchange(ChildProcess::Spawned &child, std::string_view input, steady_clock::time_point deadline)
{
    Exchange result;
    std::size_t written = 0;
    std::size_t room = outputLimit;
    bool dropped = false;
    ChildProcess &process = *child.process;
    for (;;) {
        std::vector<pollfd> watches;
        watches.push_back({process.pidfd(), POLLIN, 0});
        if (child.input.isOpen())
            watches.push_back({child.input.get(), POLLOUT, 0});
        // A tool that floods its output is left blocked on the full pipe, and the deadline ends it.
        for (const FileDescriptor *fd : {&child.output, &child.error}) {
            if (fd->isOpen() && room > 0)
                watches.push_back({fd->get(), POLLIN, 0});
        }
        int ready = pollUntil(watches, deadline);
        // Checked whether or not anything is ready: a steady stream of output must not hold it off.
        if (steady_clock::now() >= deadline && !(ready > 0 && watches[0].revents != 0)) {
            result.outcome = Exchange::Outcome::timedOut;
            return result;
        }
        if (ready <= 0)
            continue;

        // Input first: a child that ended without reading its script shows up here as EPIPE.
        if (child.input.isOpen() && writeSome(child.input, input, written) == WriteStep::failed) {
            result.outcome = Exchange::Outcome::sendFailed;
            return result;
        }
        if (room > 0) {
            dropped = drain(child.output, result.output, room) || dropped;
            dropped = drain(child.error, result.error, room) || dropped;
        }
        if (watches[0].revents != 0 && process.waitFor(std::chrono::nanoseconds::zero())) {
            // The exit status decides now, even if the child left part of its input unread.
            child.input.reset();
            dropped = drain(child.output, result.output, room) || dropped;
            dropped = drain(child.error, result.error, room) || dropped;
            if (dropped)
                result.outcome = Exchange::Outcome::overflowed;
            return result;
        }
    }
}

bool send(FileDescriptor &input, std::string_view text, steady_clock::time_point deadline)
{
    std::size_t written = 0;
    for (;;) {
        WriteStep step = writeSome(input, text, written);
        if (step != WriteStep::pending)
            return step == WriteStep::done;
        if (steady_clock::now() >= deadline)
            return false;
        std::vector<pollfd> watches{{input.get(), POLLOUT, 0}};
        pollUntil(watches, deadline);
    }
}

} // namespace wheelbox::AppleScript
