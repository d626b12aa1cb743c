#pragma once

#include <cstddef>
#include <filesystem>
#include <variant>
#include <vector>

namespace wheelbox::posix {

enum class FollowLinks { no, yes };

// Why a file was not read: an errno value. EFTYPE is not Linux's, so a file that is not a regular
// file (a folder, a FIFO, a device) is ENODEV, and one larger than asked for is EFBIG.
struct ReadFailure {
    int error = 0;
};

// The whole of the regular file at `path`, at most `largest` bytes. It is opened without waiting (a
// FIFO put there never holds the caller) and, with FollowLinks::no, refused when it is a link; what
// it is is checked on the open descriptor, so nothing swapped in after a check is read. The bytes
// actually read are returned, also when the file grew or shrank meanwhile.
std::variant<std::vector<std::byte>, ReadFailure> readRegularFile(const std::filesystem::path &path,
                                                                  std::size_t largest, FollowLinks links);

} // namespace wheelbox::posix
