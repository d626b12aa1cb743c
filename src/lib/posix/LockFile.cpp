#include "lib/posix/LockFile.hpp"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <system_error>

namespace wheelbox::posix {

std::optional<LockFile> LockFile::tryLock(const std::filesystem::path &path, const std::string &note)
{
    // Never follows a link, and never opens a FIFO in its place for writing (which would block).
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
    if (!fd.isOpen())
        throw std::system_error(errno, std::generic_category(), "cannot open " + path.string());
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return std::nullopt;
        if (errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "cannot lock " + path.string());
    }
    // The note is a courtesy: a lock whose note cannot be written is still held.
    if (::ftruncate(fd.get(), 0) == 0) {
        std::string line = note + "\n";
        (void)!::pwrite(fd.get(), line.data(), line.size(), 0);
    }
    return LockFile(std::move(fd));
}

std::string LockFile::note(const std::filesystem::path &path)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.isOpen())
        return {};
    std::array<char, 128> buffer{};
    ssize_t got = ::pread(fd.get(), buffer.data(), buffer.size(), 0);
    if (got <= 0)
        return {};
    std::string text(buffer.data(), static_cast<std::size_t>(got));
    return text.substr(0, text.find('\n'));
}

} // namespace wheelbox::posix
