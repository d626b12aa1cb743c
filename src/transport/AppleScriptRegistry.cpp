#include "transport/AppleScriptRegistry.hpp"

#include <vector>

namespace wheelbox::AppleScript {

ProcessRegistry &ProcessRegistry::shared()
{
    // Never destroyed: the waiter of a started script may still unregister it while the program exits.
    static ProcessRegistry *instance = new ProcessRegistry;
    return *instance;
}

bool ProcessRegistry::isStaleLocked(const CancellationSnapshot &snapshot) const noexcept
{
    return requestGeneration_ != snapshot.requestGeneration ||
           (snapshot.pollTag && *snapshot.pollTag != pollGeneration_);
}

bool ProcessRegistry::add(const std::shared_ptr<ChildProcess> &process, const CancellationSnapshot &snapshot)
{
    std::lock_guard lock(lock_);
    if (isStaleLocked(snapshot))
        return false;
    activeProcesses_.emplace(process.get(), ActiveProcess{process, snapshot.pollTag});
    return true;
}

void ProcessRegistry::remove(const ChildProcess *process) noexcept
{
    std::lock_guard lock(lock_);
    activeProcesses_.erase(process);
}

bool ProcessRegistry::isStale(const CancellationSnapshot &snapshot)
{
    std::lock_guard lock(lock_);
    return isStaleLocked(snapshot);
}

void ProcessRegistry::cancel(bool advanceRequest, bool advancePoll, Lifetime which)
{
    std::vector<std::shared_ptr<ChildProcess>> collected;
    {
        std::lock_guard lock(lock_);
        if (advanceRequest)
            ++requestGeneration_;
        if (advancePoll)
            ++pollGeneration_;
        for (const auto &[key, entry] : activeProcesses_) {
            bool polling = entry.pollGeneration.has_value();
            if (which == Lifetime::any || polling == (which == Lifetime::polling))
                collected.push_back(entry.process);
        }
    }
    // The shared owners keep each process watchable until here, so no signal can reach another.
    for (const auto &process : collected)
        process->terminate();
}

std::uint64_t ProcessRegistry::requestGeneration()
{
    std::lock_guard lock(lock_);
    return requestGeneration_;
}

std::uint64_t ProcessRegistry::pollGeneration()
{
    std::lock_guard lock(lock_);
    return pollGeneration_;
}

std::size_t ProcessRegistry::size()
{
    std::lock_guard lock(lock_);
    return activeProcesses_.size();
}

} // namespace wheelbox::AppleScript
