#include "transport/AppleScript.hpp"

#include "lib/icu/Unicode.hpp"
#include "platform/AutomationTool.hpp"
#include "transport/AppleScriptExchange.hpp"
#include "transport/AppleScriptRegistry.hpp"
#include "transport/ChildProcess.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace wheelbox::AppleScript {
namespace {

using std::chrono::steady_clock;
constexpr std::chrono::seconds oneSecond(1);

thread_local std::optional<std::uint64_t> threadPollTag;

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

steady_clock::time_point hardDeadline(int timeoutSeconds)
{
    // One second beyond the script's own timeout block.
    return steady_clock::now() + std::chrono::seconds(std::int64_t{std::max(timeoutSeconds, 1)} + 1);
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
        child = ChildProcess::spawn(automationToolPath(), {"-"}, *automationToolEnvironment(), output);
    } catch (const std::exception &) {
        throw ScriptError::couldNotStart();
    }
    if (!ProcessRegistry::shared().add(child.process, snapshot)) {
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
    ProcessRegistry &registry = ProcessRegistry::shared();
    switch (result.outcome) {
    case Exchange::Outcome::timedOut:
        endProcess(process);
        throw ScriptError::timedOut();
    case Exchange::Outcome::sendFailed:
        // Also when a cancellation killed the child as it read its script: the script never arrived
        // whole, and that is what the caller is told.
        endProcess(process);
        throw ScriptError::couldNotSend();
    case Exchange::Outcome::overflowed:
        // Cut short, the answer would read as a different one.
        throw ScriptError::failed(cleanErrorMessage(""));
    case Exchange::Outcome::ended:
        break;
    }

    if (process.exitedSuccessfully()) {
        if (!icu::isValidUTF8(result.output))
            return std::nullopt;
        std::string &output = result.output;
        while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
            output.pop_back();
        if (output.empty())
            return std::nullopt;
        return std::move(output);
    }
    // A cancellation ends its scripts this way; the killed process's own complaint is beside the point.
    if (registry.isStale(snapshot))
        throw ScriptError::cancelled();
    throw ScriptError::failed(
        cleanErrorMessage(icu::isValidUTF8(result.error) ? result.error : std::string()));
}

RunningScript start(std::string_view script, int timeoutSeconds)
{
    CancellationSnapshot snapshot = cancellationSnapshot();
    std::string input = timeoutWrapped(script, timeoutSeconds);
    steady_clock::time_point deadline = hardDeadline(timeoutSeconds);

    ChildProcess::Spawned child = launchRegistered(snapshot, ChildProcess::Output::discard);
    ChildProcess &process = *child.process;
    ProcessRegistry &registry = ProcessRegistry::shared();
    if (process.waitFor(std::chrono::nanoseconds::zero())) {
        registry.remove(&process);
        throw ScriptError::endedEarly();
    }

    auto state = std::make_shared<RunningScript::State>(child.process);
    try {
        // The waiter: the only thread that reaps this child, and the one that holds it to the same
        // hard deadline as a run. It unregisters before it reports the end, so a successful stop()
        // leaves no entry behind.
        std::thread([state, deadline] {
            ChildProcess &started = *state->process;
            if (!started.waitUntil(deadline))
                endProcess(started);
            started.wait();
            ProcessRegistry::shared().remove(&started);
            state->markEnded();
        }).detach();
    } catch (const std::system_error &) {
        endProcess(process);
        registry.remove(&process);
        throw ScriptError::couldNotStart();
    }
    RunningScript running(state);

    if (!send(child.input, input, deadline)) {
        running.stop(oneSecond);
        throw ScriptError::couldNotSend();
    }
    return running;
}

void cancelPollingScripts()
{
    ProcessRegistry::shared().cancel(false, true, Lifetime::polling);
}

void cancelRequestScripts()
{
    ProcessRegistry::shared().cancel(true, false, Lifetime::request);
}

void cancelAllScripts()
{
    ProcessRegistry::shared().cancel(true, true, Lifetime::any);
}

CancellationSnapshot cancellationSnapshot()
{
    CancellationSnapshot snapshot;
    snapshot.pollTag = threadPollTag;
    snapshot.requestGeneration = ProcessRegistry::shared().requestGeneration();
    return snapshot;
}

std::uint64_t currentPollGeneration()
{
    return ProcessRegistry::shared().pollGeneration();
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
    return ProcessRegistry::shared().size();
}

} // namespace wheelbox::AppleScript
