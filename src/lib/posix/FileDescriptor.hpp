#pragma once

#include <unistd.h>

// One owner per POSIX file descriptor.
namespace wheelbox::posix {

// An owned file descriptor; move-only, closed on destruction.
class FileDescriptor {
  public:
    FileDescriptor() noexcept = default;
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    FileDescriptor(FileDescriptor &&other) noexcept : fd_(other.release()) {}
    FileDescriptor &operator=(FileDescriptor &&other) noexcept
    {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    ~FileDescriptor() { reset(); }

    int get() const noexcept { return fd_; }
    bool isOpen() const noexcept { return fd_ >= 0; }
    int release() noexcept
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor; false when close(2) reported an error.
    bool reset() noexcept
    {
        if (fd_ < 0)
            return true;
        // Linux releases the descriptor even when close reports EINTR, so it is never retried.
        bool closed = ::close(fd_) == 0;
        fd_ = -1;
        return closed;
    }

  private:
    int fd_ = -1;
};

} // namespace wheelbox::posix
