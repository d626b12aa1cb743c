#include "lib/posix/FileDescriptor.hpp"

#include <unistd.h>

namespace wheelbox::posix {

FileDescriptor &FileDescriptor::operator=(FileDescriptor &&other) noexcept
{
    if (this != &other) {
        reset();
        fd_ = other.release();
    }
    return *this;
}

int FileDescriptor::release() noexcept
{
    int fd = fd_;
    fd_ = -1;
    return fd;
}

bool FileDescriptor::reset() noexcept
{
    if (fd_ < 0)
        return true;
    // Linux releases the descriptor even when close reports EINTR, so it is never retried.
    bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return closed;
}

} // namespace wheelbox::posix
