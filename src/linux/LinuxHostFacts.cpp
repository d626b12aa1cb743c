#include "linux/LinuxHostFacts.hpp"

#include "lib/glib/GLibPointers.hpp"

#include <pwd.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace wheelbox {
namespace {

// machine-info is a few lines; anything larger is not one and is not read.
constexpr std::size_t machineInfoLimit = 64 * 1024;

std::string_view trimmed(std::string_view text)
{
    constexpr std::string_view blanks = " \t\r\v\f";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::optional<std::string> validName(std::string name)
{
    if (name.empty() || !g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr))
        return std::nullopt;
    return name;
}

std::optional<std::string> readSmallFile(const std::filesystem::path &path)
{
    std::ifstream input(path, std::ios::binary);
    if (!input)
        return std::nullopt;
    std::string text(machineInfoLimit + 1, '\0');
    input.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (input.bad())
        return std::nullopt;
    auto size = static_cast<std::size_t>(input.gcount());
    if (size > machineInfoLimit)
        return std::nullopt;
    text.resize(size);
    return text;
}

std::optional<std::string> hostName()
{
    std::vector<char> name(HOST_NAME_MAX + 1, '\0');
    // POSIX leaves a truncated name without its terminator; the last byte stays 0.
    if (gethostname(name.data(), name.size() - 1) != 0)
        return std::nullopt;
    return validName(std::string(name.data()));
}

std::optional<std::uint64_t> bytes(fsblkcnt_t blocks, unsigned long blockSize)
{
    std::uint64_t total = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(blocks), static_cast<std::uint64_t>(blockSize),
                               &total))
        return std::nullopt;
    return total;
}

} // namespace

std::optional<std::string> prettyHostNameIn(std::string_view machineInfo)
{
    constexpr std::string_view key = "PRETTY_HOSTNAME=";
    std::optional<std::string_view> assigned;
    while (!machineInfo.empty()) {
        auto end = machineInfo.find('\n');
        auto line = trimmed(machineInfo.substr(0, end));
        machineInfo.remove_prefix(end == std::string_view::npos ? machineInfo.size() : end + 1);
        if (line.starts_with(key))
            assigned = line.substr(key.size());
    }
    if (!assigned)
        return std::nullopt;
    // g_shell_unquote reads C strings: a NUL would cut the value short unseen.
    if (assigned->find('\0') != std::string_view::npos)
        return std::nullopt;
    GError *error = nullptr;
    glib::CharPtr value(g_shell_unquote(std::string(*assigned).c_str(), &error));
    if (error) {
        g_error_free(error);
        return std::nullopt;
    }
    return validName(value.get());
}

LinuxHostFacts::LinuxHostFacts(LinuxHostFactsSettings settings) : settings_(std::move(settings)) {}

std::optional<std::string> LinuxHostFacts::computerName()
{
    if (auto text = readSmallFile(settings_.machineInfo)) {
        if (auto pretty = prettyHostNameIn(*text))
            return pretty;
    }
    return hostName();
}

std::optional<std::filesystem::path> LinuxHostFacts::homeFolder() const
{
    if (settings_.home)
        return settings_.home;
    if (const char *home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home);
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir)
        return std::nullopt;
    return std::filesystem::path(found->pw_dir);
}

HomeVolumeSpace LinuxHostFacts::homeVolumeSpace()
{
    auto home = homeFolder();
    struct statvfs volume {};
    if (!home || statvfs(home->c_str(), &volume) != 0)
        return {};
    return {bytes(volume.f_blocks, volume.f_frsize), bytes(volume.f_bavail, volume.f_frsize)};
}

} // namespace wheelbox
