#include "transport/AppleScript.hpp"

#include "platform/AutomationTool.hpp"
#include "transport/ChildProcess.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace wheelbox::AppleScript {
namespace {

using std::chrono::steady_clock;
constexpr std::chrono::seconds oneSecond(1);
constexpr std::string_view genericFailure = "The music player couldn’t complete the request.";
// Far beyond any answer of the players (the longest holds 200 track identifiers).
constexpr std::size_t outputLimit = 16 << 20;

struct ActiveProcess {
    std::shared_ptr<ChildProcess> process;
    // Present for a polling script: the poll tag of the thread that started it.
    std::optional<std::uint64_t> pollGeneration;
};

// The process-wide state, all of it guarded by `lock`. The lock is never held while waiting for a
// process, writing to a pipe or signalling.
struct ProcessRegistry {
    std::mutex lock;
    std::uint64_t requestGeneration = 0;
    std::uint64_t currentPollGeneration = 0;
    std::unordered_map<const ChildProcess *, ActiveProcess> activeProcesses;
};

ProcessRegistry &registry()
{
    // Never destroyed: the waiter of a started script may still unregister it while the program exits.
    static ProcessRegistry *instance = new ProcessRegistry;
    return *instance;
}

thread_local std::optional<std::uint64_t> threadPollTag;

bool isStaleLocked(const ProcessRegistry &state, const CancellationSnapshot &snapshot)
{
    return state.requestGeneration != snapshot.requestGeneration ||
           (snapshot.pollTag && *snapshot.pollTag != state.currentPollGeneration);
}

bool isStale(const CancellationSnapshot &snapshot)
{
    ProcessRegistry &state = registry();
    std::lock_guard lock(state.lock);
    return isStaleLocked(state, snapshot);
}

// Registers the process unless the snapshot is already stale; true when registered.
bool registerProcess(const std::shared_ptr<ChildProcess> &process, const CancellationSnapshot &snapshot)
{
    ProcessRegistry &state = registry();
    std::lock_guard lock(state.lock);
    if (isStaleLocked(state, snapshot))
        return false;
    state.activeProcesses.emplace(process.get(), ActiveProcess{process, snapshot.pollTag});
    return true;
}

void unregisterProcess(const ChildProcess *process) noexcept
{
    ProcessRegistry &state = registry();
    std::lock_guard lock(state.lock);
    state.activeProcesses.erase(process);
}

// Removes the entry on every way out of a run.
class Registration {
  public:
    explicit Registration(const ChildProcess *process) noexcept : process_(process) {}
    ~Registration() { unregisterProcess(process_); }
    Registration(const Registration &) = delete;
    Registration &operator=(const Registration &) = delete;

  private:
    const ChildProcess *process_;
};

enum class Lifetime { polling, request, any };

void cancelScripts(bool advanceRequest, bool advancePoll, Lifetime which)
{
    std::vector<std::shared_ptr<ChildProcess>> collected;
    {
        ProcessRegistry &state = registry();
        std::lock_guard lock(state.lock);
        if (advanceRequest)
            ++state.requestGeneration;
        if (advancePoll)
            ++state.currentPollGeneration;
        for (const auto &[key, entry] : state.activeProcesses) {
            bool polling = entry.pollGeneration.has_value();
            if (which == Lifetime::any || polling == (which == Lifetime::polling))
                collected.push_back(entry.process);
        }
    }
    // The shared owners keep each pidfd open until here, so no signal can reach another process.
    for (const auto &process : collected)
        process->terminate();
}

// A process that must not outlive its run: terminate, a second's grace, then kill and one more
// second. One that survives even that is reaped by ChildProcess whenever it dies.
void endProcess(ChildProcess &process) noexcept
{
    process.terminate();
    if (process.waitFor(oneSecond))
        return;
    process.kill();
    process.waitFor(oneSecond);
}

// write(2) on a pipe whose reader has gone raises SIGPIPE, which would end the whole program unless
// it ignores the signal. Block it for this thread around the write and swallow the one it caused.
ssize_t writeWithoutSigpipe(int fd, const char *data, std::size_t size) noexcept
{
    sigset_t pipeSignal;
    sigset_t previousMask;
    ::sigemptyset(&pipeSignal);
    ::sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previousMask);
    sigset_t pending;
    ::sigpending(&pending);
    bool wasPending = ::sigismember(&pending, SIGPIPE) == 1;

    ssize_t written;
    do {
        written = ::write(fd, data, size);
    } while (written < 0 && errno == EINTR);
    int error = errno;
    if (written < 0 && error == EPIPE && !wasPending) {
        timespec immediately{};
        while (::sigtimedwait(&pipeSignal, nullptr, &immediately) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    errno = error;
    return written;
}

// Reads what the pipe holds now, without waiting for more. Closes it at end of file.
void drain(FileDescriptor &fd, std::string &into) noexcept
{
    std::array<char, 65536> buffer;
    while (fd.isOpen()) {
        ssize_t count = ::read(fd.get(), buffer.data(), buffer.size());
        if (count > 0) {
            into.append(buffer.data(), static_cast<std::size_t>(count));
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else if (count < 0 && errno == EAGAIN) {
            return;
        } else {
            fd.reset();
        }
    }
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

enum class Outcome { ended, timedOut, sendFailed };

struct Exchange {
    Outcome outcome = Outcome::ended;
    std::string output;
    std::string error;
};

// Feeds the script to the child and collects its output until it ends or the deadline passes. The
// output is read while the child runs, so a long answer can never stall it on a full pipe, and once
// it has ended what remains is read without waiting for end of file, which a background process it
// left behind could hold off indefinitely.
Exchange exchange(ChildProcess::Spawned &child, std::string_view input, steady_clock::time_point deadline)
{
    Exchange result;
    std::size_t written = 0;
    ChildProcess &process = *child.process;
    for (;;) {
        std::vector<pollfd> watches;
        watches.push_back({process.pidfd(), POLLIN, 0});
        if (child.input.isOpen())
            watches.push_back({child.input.get(), POLLOUT, 0});
        // A tool that floods its output is left blocked on the full pipe, and the deadline ends it.
        bool roomLeft = result.output.size() + result.error.size() < outputLimit;
        for (const FileDescriptor *fd : {&child.output, &child.error}) {
            if (fd->isOpen() && roomLeft)
                watches.push_back({fd->get(), POLLIN, 0});
        }
        int ready = pollUntil(watches, deadline);
        // Checked whether or not anything is ready: a steady stream of output must not hold it off.
        if (steady_clock::now() >= deadline && !(ready > 0 && watches[0].revents != 0)) {
            result.outcome = Outcome::timedOut;
            return result;
        }
        if (ready <= 0)
            continue;

        // Input first: a child that ended without reading its script shows up here as EPIPE.
        if (child.input.isOpen() && writeSome(child.input, input, written) == WriteStep::failed) {
            result.outcome = Outcome::sendFailed;
            return result;
        }
        if (roomLeft) {
            drain(child.output, result.output);
            drain(child.error, result.error);
        }
        if (watches[0].revents != 0 && process.waitFor(std::chrono::nanoseconds::zero())) {
            // The exit status decides now, even if the child left part of its input unread.
            child.input.reset();
            drain(child.output, result.output);
            drain(child.error, result.error);
            return result;
        }
    }
}

// Writes the whole script for a started script, which has no output to collect.
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

steady_clock::time_point hardDeadline(int timeoutSeconds)
{
    // One second beyond the script's own timeout block.
    return steady_clock::now() + std::chrono::seconds(std::int64_t{std::max(timeoutSeconds, 1)} + 1);
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUTF8(std::string_view text) noexcept
{
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length;
        char32_t codePoint;
        if (byte < 0x80) {
            ++i;
            continue;
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            length = 2;
            codePoint = byte & 0x1F;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            length = 3;
            codePoint = byte & 0x0F;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            length = 4;
            codePoint = byte & 0x07;
        } else {
            return false;
        }
        if (text.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            auto continuation = static_cast<unsigned char>(text[i + k]);
            if ((continuation & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (continuation & 0x3F);
        }
        if ((length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000) ||
            codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

struct CodePoint {
    char32_t value;
    std::size_t offset; // of its first byte
};

// Bytes that do not form valid UTF-8 count as U+FFFD, one each.
std::vector<CodePoint> decodeUTF8(std::string_view text)
{
    std::vector<CodePoint> codePoints;
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        if (length > 1 && (text.size() - i < length || !isValidUTF8(text.substr(i, length)))) {
            codePoints.push_back({U'\uFFFD', i});
            ++i;
            continue;
        }
        char32_t value = length == 1 ? byte : byte & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k)
            value = (value << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        codePoints.push_back({value, i});
        i += length;
    }
    return codePoints;
}

bool isSpaceSeparator(char32_t c) noexcept
{
    return c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// White space and line breaks as trimmed from both ends of an error text.
bool isTrimmedSpace(char32_t c) noexcept
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x85 || isSpaceSeparator(c);
}

// The regular-expression class \s: tab, line feed, form feed, carriage return and the separators.
bool isPatternSpace(char32_t c) noexcept
{
    return c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || isSpaceSeparator(c);
}

std::string_view trimmed(std::string_view text)
{
    std::vector<CodePoint> codePoints = decodeUTF8(text);
    std::size_t first = 0;
    while (first < codePoints.size() && isTrimmedSpace(codePoints[first].value))
        ++first;
    std::size_t last = codePoints.size();
    while (last > first && isTrimmedSpace(codePoints[last - 1].value))
        --last;
    if (first == last)
        return {};
    std::size_t begin = codePoints[first].offset;
    std::size_t end = last < codePoints.size() ? codePoints[last].offset : text.size();
    return text.substr(begin, end - begin);
}

// Removes a trailing "\s+\(-?\d+\)", the error number the tool appends. `text` has no trailing
// white space.
std::string_view withoutErrorNumber(std::string_view text)
{
    std::vector<CodePoint> codePoints = decodeUTF8(text);
    auto at = [&](std::size_t index) {
        return codePoints[index].value;
    };
    std::size_t i = codePoints.size();
    if (i == 0 || at(--i) != U')')
        return text;
    std::size_t digits = 0;
    while (i > 0 && at(i - 1) >= U'0' && at(i - 1) <= U'9') {
        --i;
        ++digits;
    }
    if (digits == 0)
        return text;
    if (i > 0 && at(i - 1) == U'-')
        --i;
    if (i == 0 || at(--i) != U'(')
        return text;
    std::size_t spaceStart = i;
    while (spaceStart > 0 && isPatternSpace(at(spaceStart - 1)))
        --spaceStart;
    if (spaceStart == i)
        return text;
    return text.substr(0, codePoints[spaceStart].offset);
}

} // namespace

struct RunningScript::State {
    explicit State(std::shared_ptr<ChildProcess> child) noexcept : process(std::move(child)) {}

    void markEnded()
    {
        {
            std::lock_guard guard(lock);
            ended = true;
        }
        changed.notify_all();
    }

    bool waitEnded(std::chrono::nanoseconds interval)
    {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, interval, [this] { return ended; });
    }

    const std::shared_ptr<ChildProcess> process;
    std::mutex lock;
    std::condition_variable changed;
    bool ended = false;
};

bool RunningScript::stop(std::chrono::nanoseconds grace) const
{
    state_->process->terminate();
    if (state_->waitEnded(grace))
        return true;
    state_->process->kill();
    return state_->waitEnded(oneSecond);
}

bool RunningScript::hasEnded() const
{
    std::lock_guard guard(state_->lock);
    return state_->ended;
}

namespace {

// Launches the script tool and registers its process, unless the snapshot went stale meanwhile:
// then the process is ended and the run refused.
ChildProcess::Spawned launchRegistered(const CancellationSnapshot &snapshot, ChildProcess::Output output)
{
    ChildProcess::Spawned child;
    try {
        child = ChildProcess::spawn(automationToolPath(), {"-"}, output);
    } catch (const std::exception &) {
        throw ScriptError::couldNotStart();
    }
    if (!registerProcess(child.process, snapshot)) {
        endProcess(*child.process);
        throw ScriptError::cancelled();
    }
    return child;
}

} // namespace

std::optional<std::string> run(std::string_view script, int timeoutSeconds)
{
    CancellationSnapshot snapshot = cancellationSnapshot();
    std::string input = timeoutWrapped(script, timeoutSeconds);

    ChildProcess::Spawned child = launchRegistered(snapshot, ChildProcess::Output::capture);
    ChildProcess &process = *child.process;
    Registration registration(&process);

    Exchange result = exchange(child, input, hardDeadline(timeoutSeconds));
    switch (result.outcome) {
    case Outcome::timedOut:
        endProcess(process);
        throw ScriptError::timedOut();
    case Outcome::sendFailed:
        endProcess(process);
        // A cancellation that kills the child while it reads its script breaks the pipe too.
        throw isStale(snapshot) ? ScriptError::cancelled() : ScriptError::couldNotSend();
    case Outcome::ended:
        break;
    }

    if (process.exitedSuccessfully()) {
        if (!isValidUTF8(result.output))
            return std::nullopt;
        std::string &output = result.output;
        while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
            output.pop_back();
        if (output.empty())
            return std::nullopt;
        return std::move(output);
    }
    // A cancellation ends its scripts this way; the killed process's own complaint is beside the point.
    if (isStale(snapshot))
        throw ScriptError::cancelled();
    throw ScriptError::failed(cleanErrorMessage(isValidUTF8(result.error) ? result.error : std::string()));
}

RunningScript start(std::string_view script, int timeoutSeconds)
{
    CancellationSnapshot snapshot = cancellationSnapshot();
    std::string input = timeoutWrapped(script, timeoutSeconds);

    ChildProcess::Spawned child = launchRegistered(snapshot, ChildProcess::Output::discard);
    ChildProcess &process = *child.process;
    if (process.waitFor(std::chrono::nanoseconds::zero())) {
        unregisterProcess(&process);
        throw ScriptError::endedEarly();
    }

    auto state = std::make_shared<RunningScript::State>(child.process);
    try {
        // The waiter: the only thread that reaps this child. It unregisters before it reports the
        // end, so a successful stop() leaves no entry behind.
        std::thread([state] {
            state->process->wait();
            unregisterProcess(state->process.get());
            state->markEnded();
        }).detach();
    } catch (const std::system_error &) {
        endProcess(process);
        unregisterProcess(&process);
        throw ScriptError::couldNotStart();
    }
    RunningScript running(state);

    if (!send(child.input, input, hardDeadline(timeoutSeconds))) {
        running.stop(oneSecond);
        throw isStale(snapshot) ? ScriptError::cancelled() : ScriptError::couldNotSend();
    }
    return running;
}

void cancelPollingScripts()
{
    cancelScripts(false, true, Lifetime::polling);
}

void cancelRequestScripts()
{
    cancelScripts(true, false, Lifetime::request);
}

void cancelAllScripts()
{
    cancelScripts(true, true, Lifetime::any);
}

CancellationSnapshot cancellationSnapshot()
{
    CancellationSnapshot snapshot;
    snapshot.pollTag = threadPollTag;
    ProcessRegistry &state = registry();
    std::lock_guard lock(state.lock);
    snapshot.requestGeneration = state.requestGeneration;
    return snapshot;
}

std::uint64_t currentPollGeneration()
{
    ProcessRegistry &state = registry();
    std::lock_guard lock(state.lock);
    return state.currentPollGeneration;
}

PollTagScope::PollTagScope(std::uint64_t generation) noexcept : previous_(threadPollTag)
{
    threadPollTag = generation;
}

PollTagScope::~PollTagScope()
{
    threadPollTag = previous_;
}

std::size_t registeredScriptCount()
{
    ProcessRegistry &state = registry();
    std::lock_guard lock(state.lock);
    return state.activeProcesses.size();
}

std::string timeoutWrapped(std::string_view script, int timeoutSeconds)
{
    std::string text = "with timeout of ";
    text += std::to_string(std::max(timeoutSeconds, 1));
    text += " seconds\n  ";
    text += script;
    text += "\nend timeout";
    return text;
}

std::string cleanErrorMessage(std::string_view standardError)
{
    std::string_view text = standardError;
    if (text.empty())
        return std::string(genericFailure);
    constexpr std::string_view marker = "execution error: ";
    if (auto found = text.find(marker); found != std::string_view::npos)
        text.remove_prefix(found + marker.size());
    text = withoutErrorNumber(trimmed(text));
    return std::string(text.empty() ? genericFailure : text);
}

} // namespace wheelbox::AppleScript
