#pragma once

#include "lib/posix/FileDescriptor.hpp"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace wheelbox {

using posix::FileDescriptor;

// One child process, watched through a pidfd: no SIGCHLD handler is involved, and a signal can never
// reach a later process that reused the pid. Only the owner waits for it; signals may be sent from
// any thread for as long as the object lives. A process still unreaped when the object goes away is
// reaped in the background once it ends, so it never stays a zombie. On a kernel without pidfds a
// thread per child stands in for the pidfd, and signals go by pid only until the reap.
class ChildProcess {
  public:
    enum class Output { capture, discard };

    struct Spawned {
        std::shared_ptr<ChildProcess> process;
        FileDescriptor input;  // write end of the child's standard input, non-blocking
        FileDescriptor output; // read end of its standard output (Output::capture), non-blocking
        FileDescriptor error;  // read end of its standard error (Output::capture), non-blocking
    };

    // Starts `executable` with `arguments` (argv[1...]) and exactly `environment` ("NAME=value"
    // entries). The child gets only its three standard descriptors and default signal handling.
    // Throws std::system_error.
    static Spawned spawn(const std::filesystem::path &executable, const std::vector<std::string> &arguments,
                         const std::vector<std::string> &environment, Output output);

    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    ~ChildProcess();

    // Readable (POLLIN) once the process has ended.
    int pidfd() const noexcept { return endedDescriptor_.get(); }

    // Sends a signal unless the process has already been reaped.
    void signal(int number) noexcept;
    void terminate() noexcept;
    void kill() noexcept;

    // Owner only: waits until the process ends or the deadline passes, and reaps it. True once reaped.
    bool waitUntil(std::chrono::steady_clock::time_point deadline) noexcept;
    bool waitFor(std::chrono::nanoseconds interval) noexcept;
    // Owner only: blocks until the process has ended and reaps it.
    void wait() noexcept;

    bool hasEnded() const noexcept { return reaped_.load(); }
    // True only for a process that was reaped after exiting with status 0.
    bool exitedSuccessfully() const noexcept { return exitedSuccessfully_.load(); }

  private:
    // `ended` is the pidfd, or, with `watchedByThread`, the read end of a pipe the watching thread
    // closes when the child ends.
    ChildProcess(pid_t pid, FileDescriptor ended, bool watchedByThread) noexcept
        : pid_(pid), endedDescriptor_(std::move(ended)), watchedByThread_(watchedByThread)
    {}
    bool reap(bool block) noexcept;

    const pid_t pid_;
    FileDescriptor endedDescriptor_;
    const bool watchedByThread_;
    // Orders a signal by pid before the reap that would free the pid for reuse.
    std::mutex reapLock_;
    std::atomic<bool> reaped_{false};
    std::atomic<bool> exitedSuccessfully_{false};
};

} // namespace wheelbox
