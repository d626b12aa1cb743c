#include "linux/UserFolders.hpp"

#include <glib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace wheelbox::userFolders {

std::filesystem::path state()
{
    return std::filesystem::path(g_get_user_state_dir()) / "wheelbox";
}

std::filesystem::path runtime()
{
    // A relative value is invalid and ignored, as every XDG-aware program does.
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/')
        return std::filesystem::path(runtime) / "wheelbox";
    return state() / "run";
}

void makePrivate(const std::filesystem::path &folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder.parent_path(), error);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot make " + folder.string() + ": " + std::strerror(errno));
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid())
        throw std::runtime_error(folder.string() + " is not a folder of yours");
    if ((status.st_mode & 0077) != 0 && ::chmod(folder.c_str(), 0700) != 0)
        throw std::runtime_error("cannot close " + folder.string() + " to other users");
}

} // namespace wheelbox::userFolders
