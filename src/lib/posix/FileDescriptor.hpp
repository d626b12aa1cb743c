#pragma once

// One owner per POSIX file descriptor.
namespace wheelbox::posix {

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

} // namespace wheelbox::posix
