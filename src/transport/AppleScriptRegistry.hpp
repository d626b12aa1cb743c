#pragma once

#include "transport/AppleScript.hpp"
#include "transport/ChildProcess.hpp"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace wheelbox::AppleScript {

enum class Lifetime { polling, request, any };

// The process-wide record of running scripts and the two generations that make them stale. One
// lock guards it all and is never held while waiting for a process, writing to a pipe or
// signalling. Thread-safe.
class ProcessRegistry {
  public:
    static ProcessRegistry &shared();

    // Registers the process unless the snapshot is already stale; true when registered.
    bool add(const std::shared_ptr<ChildProcess> &process, const CancellationSnapshot &snapshot);
    void remove(const ChildProcess *process) noexcept;
    bool isStale(const CancellationSnapshot &snapshot);

    // Advances the generations named and terminates every registered script of `which`.
    void cancel(bool advanceRequest, bool advancePoll, Lifetime which);

    std::uint64_t requestGeneration();
    std::uint64_t pollGeneration();
    std::size_t size();

  private:
    struct ActiveProcess {
        std::shared_ptr<ChildProcess> process;
        // Present for a polling script: the poll tag of the thread that started it.
        std::optional<std::uint64_t> pollGeneration;
    };

    ProcessRegistry() = default;
    bool isStaleLocked(const CancellationSnapshot &snapshot) const noexcept;

    std::mutex lock_;
    std::uint64_t requestGeneration_ = 0;
    std::uint64_t pollGeneration_ = 0;
    std::unordered_map<const ChildProcess *, ActiveProcess> activeProcesses_;
};

// Removes a process's entry on every way out of a run.
class Registration {
  public:
    explicit Registration(const ChildProcess *process) noexcept : process_(process) {}
    ~Registration() { ProcessRegistry::shared().remove(process_); }
    Registration(const Registration &) = delete;
    Registration &operator=(const Registration &) = delete;

  private:
    const ChildProcess *process_;
};

} // namespace wheelbox::AppleScript
