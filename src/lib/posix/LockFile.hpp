#pragma once

#include "lib/posix/FileDescriptor.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace wheelbox::posix {

// An exclusive lock on a file (flock), held as long as its descriptor is open, in this process or in
// a child that inherited it. The kernel lets go when the last holder ends, however it ends, so a
// lock left by a process that crashed is free: nothing stale needs clearing. The holder writes a
// note into the file (its process id) for whoever finds the lock taken.
class LockFile {
  public:
    // The lock, or nothing when another process holds it. Throws std::system_error when the file
    // cannot be opened or made.
    static std::optional<LockFile> tryLock(const std::filesystem::path &path, const std::string &note);

    // The holder's note, at most a line; empty when there is none or it cannot be read.
    static std::string note(const std::filesystem::path &path);

    // Stays open across exec in a child that should hold the lock too.
    int descriptor() const noexcept { return fd_.get(); }

  private:
    explicit LockFile(FileDescriptor fd) noexcept : fd_(std::move(fd)) {}
    FileDescriptor fd_;
};

} // namespace wheelbox::posix
