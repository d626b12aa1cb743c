#pragma once

#include "lib/mpd/MpdConnection.hpp"
#include "lib/posix/FileDescriptor.hpp"
#include "linux/PrivateMpdConfiguration.hpp"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace wheelbox {

// Why the program's own MPD is not there. what() is the text the user reads.
class PrivateMpdError : public std::runtime_error {
  public:
    enum class Kind { notInstalled, failedToStart };

    static PrivateMpdError notInstalled();
    static PrivateMpdError failedToStart(std::string_view reason);

    Kind kind() const noexcept { return kind_; }

  private:
    PrivateMpdError(Kind kind, const std::string &text) : std::runtime_error(text), kind_(kind) {}
    Kind kind_;
};

// The MPD the program starts when no other answers, and its one owner: started at launch, stopped
// at quit, and never left running. The child asks the kernel for SIGTERM when the program dies
// (a crash included), so it cannot outlive it. The program's main thread makes and destroys it:
// the kernel ties that request to the thread that started the child.
class PrivateMpd {
  public:
    static constexpr std::chrono::seconds readyTimeout{15};
    static constexpr std::chrono::seconds stopTimeout{5};

    // `mpd` on PATH, else in /usr/bin or /usr/sbin (Debian's is in /usr/bin; some put it in sbin).
    static std::optional<std::filesystem::path> findExecutable(std::string_view pathVariable);

    // Writes the configuration, starts MPD with it and returns once it answers. An MPD that
    // already answers on the socket (another copy of the program, run where there is no session
    // bus to keep it single) is used as it is, and left running. Throws PrivateMpdError.
    static std::unique_ptr<PrivateMpd> start(const PrivateMpdConfiguration &configuration,
                                             const std::filesystem::path &executable,
                                             std::chrono::milliseconds timeout = readyTimeout);

    ~PrivateMpd();
    PrivateMpd(const PrivateMpd &) = delete;
    PrivateMpd &operator=(const PrivateMpd &) = delete;

    const mpd::MpdAddress &address() const noexcept { return address_; }
    // Not set for an MPD found already running.
    std::optional<pid_t> pid() const noexcept;

    // SIGTERM (MPD saves its state), then SIGKILL after stopTimeout; returns once it is reaped.
    // Does nothing the second time, or for an MPD this object did not start.
    void stop() noexcept;

  private:
    PrivateMpd(mpd::MpdAddress address, pid_t pid, posix::FileDescriptor ended) noexcept;
    bool waitForEnd(std::chrono::steady_clock::time_point deadline) noexcept;

    mpd::MpdAddress address_;
    pid_t pid_;
    // A pidfd: readable once the child has ended. Closed once it is reaped.
    posix::FileDescriptor ended_;
};

} // namespace wheelbox
