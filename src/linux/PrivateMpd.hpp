#pragma once

#include "lib/glib/GLibPointers.hpp"
#include "lib/mpd/MpdConnection.hpp"
#include "lib/posix/FileDescriptor.hpp"
#include "lib/posix/LockFile.hpp"
#include "linux/PrivateMpdConfiguration.hpp"
#include "platform/MainLoop.hpp"

#include <glib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>

namespace wheelbox {

class GLibMainLoop;
class MpdServerStatus;

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

// The MPD the program starts when no other answers, and its one owner: started at launch, watched
// while the program runs, stopped at quit, and never left running. The child asks the kernel for
// SIGTERM when the program dies (a crash included), so it cannot outlive it. The program's main
// thread makes, supervises and destroys it: the kernel ties that request to the thread that started
// the child.
//
// One MPD per state folder: its owner holds the lock in that folder, and so does the MPD it starts
// (the descriptor is inherited), so the lock is free only once both have ended, however they ended.
// A copy of the program that finds it taken does not start a second MPD: it waits for the owner's to
// answer and uses it.
class PrivateMpd {
  public:
    static constexpr std::chrono::seconds readyTimeout{15};
    static constexpr std::chrono::seconds stopTimeout{5};

    // How a supervised MPD is brought back.
    struct Restarts {
        // Before the first restart, and again after an MPD that ran steadily.
        std::chrono::milliseconds firstDelay{500};
        // The delay doubles with each end soon after a start, up to this.
        std::chrono::milliseconds longestDelay{30'000};
        // An MPD that ran this long before it ended ran steadily.
        std::chrono::milliseconds steadyAfter{30'000};
        // A restarted MPD that does not answer within this is killed and started again.
        std::chrono::milliseconds readyTimeout{PrivateMpd::readyTimeout};
        // How often a copy that does not own the MPD looks whether its owner is gone.
        std::chrono::milliseconds ownerCheck{1000};
    };

    // `mpd` on PATH, else in /usr/bin or /usr/sbin (Debian's is in /usr/bin; some put it in sbin).
    static std::optional<std::filesystem::path> findExecutable(std::string_view pathVariable);

    // Makes the folders (closed to other users), writes the configuration, starts MPD with it and
    // returns once it answers. When another copy of the program owns this state folder's MPD, waits
    // for that one to answer instead. An MPD that answers on the socket without an owner (one this
    // program did not start) is used as it is, and left running. Throws PrivateMpdError.
    static std::unique_ptr<PrivateMpd> start(const PrivateMpdConfiguration &configuration,
                                             const std::filesystem::path &executable,
                                             std::chrono::milliseconds timeout = readyTimeout);

    ~PrivateMpd();
    PrivateMpd(const PrivateMpd &) = delete;
    PrivateMpd &operator=(const PrivateMpd &) = delete;

    const mpd::MpdAddress &address() const noexcept { return address_; }
    // The MPD this object runs now; not set while it runs none (another copy's MPD, or between an
    // end and its restart).
    std::optional<pid_t> pid() const noexcept;

    // From now on watches MPD on `loop`, the main loop: an MPD that ends is reaped and started
    // again, after a delay that doubles with each end soon after a start; `status` tells the
    // library why there is no MPD meanwhile. A copy that does not own the MPD takes it over once
    // its owner has gone. Main thread only.
    void supervise(GLibMainLoop &loop, std::shared_ptr<MpdServerStatus> status, Restarts restarts);
    void supervise(GLibMainLoop &loop, std::shared_ptr<MpdServerStatus> status)
    {
        supervise(loop, std::move(status), Restarts{});
    }

    // Ends supervision, then SIGTERM (MPD saves its state), SIGKILL after stopTimeout; returns once
    // it is reaped, and lets go of the lock. Does nothing the second time, nor to an MPD this
    // object did not start.
    void stop() noexcept;

  private:
    PrivateMpd(PrivateMpdConfiguration configuration, std::filesystem::path executable);

    // Takes the state folder's lock; false when another copy holds it. Throws PrivateMpdError.
    bool tryToOwn();
    // Starts MPD (the lock held) without waiting for it. Throws PrivateMpdError.
    void spawn();
    bool waitForEnd(std::chrono::steady_clock::time_point deadline) noexcept;
    void reap() noexcept;

    void watchChild();
    void unwatchChild() noexcept;
    static gboolean onChildEvent(gpointer self);
    static gboolean onProcessDescriptor(gint fd, GIOCondition condition, gpointer self);
    void childEnded(int waitStatus);
    void restartLater(std::string reason);
    void restart();
    void probeUntilReady();
    void probeEnded();
    void stopProbe() noexcept;
    void lookForOwner();

    PrivateMpdConfiguration configuration_;
    std::filesystem::path executable_;
    mpd::MpdAddress address_;
    std::optional<posix::LockFile> lock_;
    pid_t pid_ = -1;
    // A pidfd: readable once the child has ended. Closed once it is reaped.
    posix::FileDescriptor ended_;
    std::chrono::steady_clock::time_point startedAt_;
    // Whether the database was there when MPD last started (it then looks for what changed).
    bool hadDatabase_ = false;

    // Supervision, on the main loop.
    GLibMainLoop *loop_ = nullptr;
    std::shared_ptr<MpdServerStatus> status_;
    Restarts restarts_;
    std::chrono::milliseconds nextDelay_{0};
    glib::SourcePtr childWatch_;
    std::unique_ptr<MainLoop::Timer> timer_;
    // Whether a restarted MPD answers: found out by `probe_`, looked at by `probeTimer_`.
    enum class ProbeOutcome { pending, ready, silent };
    std::atomic<ProbeOutcome> probeOutcome_{ProbeOutcome::pending};
    std::unique_ptr<MainLoop::Timer> probeTimer_;
    std::jthread probe_;
};

} // namespace wheelbox
