#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wheelbox {

// An owned file descriptor; move-only, closed on destruction.
class FileDescriptor {
  public:
    FileDescriptor() noexcept = default;
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    FileDescriptor(FileDescriptor &&other) noexcept : fd_(other.release()) {}
    FileDescriptor &operator=(FileDescriptor &&other) noexcept;
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    ~FileDescriptor() { reset(); }

    int get() const noexcept { return fd_; }
    bool isOpen() const noexcept { return fd_ >= 0; }
    int release() noexcept;
    // Closes the descriptor; false when close(2) reported an error.
    bool reset() noexcept;

  private:
    int fd_ = -1;
};

// One child process, watched through a pidfd: no SIGCHLD handler is involved, and a signal can never
// reach a later process that reused the pid. Only the owner waits for it; signals may be sent from
// any thread for as long as the object lives. A process still unreaped when the object goes away is
// reaped in the background once it ends, so it never stays a zombie.
class ChildProcess {
  public:
    enum class Output { capture, discard };

    struct Spawned {
        std::shared_ptr<ChildProcess> process;
        FileDescriptor input;  // write end of the child's standard input, non-blocking
        FileDescriptor output; // read end of its standard output (Output::capture), non-blocking
        FileDescriptor error;  // read end of its standard error (Output::capture), non-blocking
    };

    // Starts `executable` with `arguments` (argv[1...]) and the caller's environment. The child gets
    // only its three standard descriptors and default signal handling. Throws std::system_error.
    static Spawned spawn(const std::filesystem::path &executable, const std::vector<std::string> &arguments,
                         Output output);

    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    ~ChildProcess();

    // Readable (POLLIN) once the process has ended.
    int pidfd() const noexcept { return pidfd_.get(); }

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
    explicit ChildProcess(FileDescriptor pidfd) noexcept : pidfd_(std::move(pidfd)) {}
    bool reap(bool block) noexcept;

    FileDescriptor pidfd_;
    std::atomic<bool> reaped_{false};
    std::atomic<bool> exitedSuccessfully_{false};
};

} // namespace wheelbox
