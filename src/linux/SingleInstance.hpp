#pragma once

#include "lib/glib/GLibPointers.hpp"
#include "lib/posix/FileDescriptor.hpp"
#include "lib/posix/LockFile.hpp"

#include <glib.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace wheelbox {

class GLibMainLoop;

// One running copy of the program per user, with or without a session bus: the copy that runs
// holds a lock in the state folder and listens on a socket in the runtime folder. A later start
// that finds the lock taken asks that copy, through the socket, to bring its device to the front,
// and ends without a device of its own. The kernel frees the lock of a copy that crashed, and the
// next copy to hold it replaces the socket it left, so nothing stale stands in the way.
class SingleInstance {
  public:
    static constexpr std::string_view lockName = "instance.lock";
    static constexpr std::string_view socketName = "instance.socket";
    // How long a later start waits for the running copy, which may itself still be starting.
    static constexpr std::chrono::seconds answerTimeout{10};

    // This copy's claim, or null when another copy holds it. Makes both folders (mode 0700).
    // Throws std::runtime_error when a folder or the lock file cannot be made.
    static std::unique_ptr<SingleInstance> claim(const std::filesystem::path &stateFolder,
                                                 const std::filesystem::path &runtimeFolder);

    // Asks the copy that holds the claim to present its device, within `timeout`. False, with the
    // user's line in `problem`, when it did not answer.
    static bool presentRunningCopy(const std::filesystem::path &stateFolder,
                                   const std::filesystem::path &runtimeFolder,
                                   std::chrono::milliseconds timeout, std::string &problem);

    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // Whether later starts can reach this copy (false when the socket could not be made).
    bool isListening() const noexcept { return listener_.isOpen(); }

    // From now on answers later starts on `loop`, the main loop: each calls `present`. Main thread.
    void listen(GLibMainLoop &loop, std::function<void()> present);

  private:
    SingleInstance(posix::LockFile lock, std::filesystem::path socket, posix::FileDescriptor listener);
    static gboolean onConnection(gint fd, GIOCondition condition, gpointer self);

    posix::LockFile lock_;
    std::filesystem::path socket_;
    posix::FileDescriptor listener_;
    std::function<void()> present_;
    glib::SourcePtr source_;
};

} // namespace wheelbox
