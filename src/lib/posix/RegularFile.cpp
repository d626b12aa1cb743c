#include "lib/posix/RegularFile.hpp"

#include "lib/posix/FileDescriptor.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace wheelbox::posix {

std::variant<std::vector<std::byte>, ReadFailure> readRegularFile(const std::filesystem::path &path,
                                                                  std::size_t largest, FollowLinks links)
{
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    if (links == FollowLinks::no)
        flags |= O_NOFOLLOW;
    FileDescriptor file(::open(path.c_str(), flags));
    if (!file.isOpen())
        return ReadFailure{errno};
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        return ReadFailure{errno};
    if (!S_ISREG(status.st_mode))
        return ReadFailure{ENODEV};
    if (static_cast<std::uint64_t>(status.st_size) > largest)
        return ReadFailure{EFBIG};
    std::vector<std::byte> data(static_cast<std::size_t>(status.st_size));
    std::size_t filled = 0;
    for (;;) {
        if (filled == data.size()) {
            // The file grew since the stat, or is one whose size the system does not know.
            if (filled >= largest) {
                std::byte probe;
                ssize_t more = ::read(file.get(), &probe, 1);
                if (more > 0)
                    return ReadFailure{EFBIG};
                if (more < 0 && errno == EINTR)
                    continue;
                if (more < 0)
                    return ReadFailure{errno};
                break;
            }
            data.resize(std::min(largest, data.size() + 64 * 1024));
        }
        ssize_t count = ::read(file.get(), data.data() + filled, data.size() - filled);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return ReadFailure{errno};
        }
        if (count == 0)
            break;
        filled += static_cast<std::size_t>(count);
    }
    data.resize(filled);
    return data;
}

} // namespace wheelbox::posix
