#include "linux/ArtworkFiles.hpp"

#include "lib/glib/GLibPointers.hpp"
#include "lib/mpd/MpdIdentity.hpp"
#include "lib/posix/RegularFile.hpp"

#include <algorithm>
#include <array>
#include <string>

namespace wheelbox {
namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 3> baseNames = {"cover", "folder", "front"};
constexpr std::array<std::string_view, 6> extensions = {"jpg", "jpeg", "png", "gif", "bmp", "webp"};

bool equalIgnoringCase(std::string_view a, std::string_view b) noexcept
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) {
                   return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

// The rank of a file name among the cover names (lower is better), if it is one.
std::optional<std::size_t> coverRank(std::string_view name)
{
    auto dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return std::nullopt;
    auto base = name.substr(0, dot);
    auto extension = name.substr(dot + 1);
    for (std::size_t b = 0; b < baseNames.size(); ++b) {
        if (!equalIgnoringCase(base, baseNames[b]))
            continue;
        for (std::size_t e = 0; e < extensions.size(); ++e) {
            if (equalIgnoringCase(extension, extensions[e]))
                return b * extensions.size() + e;
        }
    }
    return std::nullopt;
}

bool isPlainRelativePath(std::string_view path)
{
    if (path.empty() || path.front() == '/' || path.find('\0') != std::string_view::npos)
        return false;
    while (!path.empty()) {
        auto slash = path.find('/');
        auto part = path.substr(0, slash);
        if (part.empty() || part == "." || part == "..")
            return false;
        path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
    }
    return true;
}

std::optional<std::vector<std::byte>> readCoverIn(const fs::path &folder, std::size_t largest)
{
    std::error_code error;
    std::optional<std::pair<std::size_t, fs::path>> best;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        auto rank = coverRank(entry->path().filename().native());
        if (rank && (!best || *rank < best->first))
            best.emplace(*rank, entry->path());
    }
    if (!best)
        return std::nullopt;
    auto read = posix::readRegularFile(best->second, largest, posix::FollowLinks::yes);
    if (auto *data = std::get_if<std::vector<std::byte>>(&read))
        return std::move(*data);
    return std::nullopt;
}

bool isInside(const fs::path &path, const fs::path &folder)
{
    auto [end, rest] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return end == folder.end() && rest != path.end();
}

} // namespace

std::optional<std::vector<std::byte>> readFolderArtwork(const fs::path &musicFolder, std::string_view songURI,
                                                        std::size_t largest)
{
    if (!isPlainRelativePath(songURI))
        return std::nullopt;
    auto songFolder = fs::path(std::string(songURI)).parent_path();
    if (auto found = readCoverIn(musicFolder / songFolder, largest))
        return found;
    auto albumFolder = fs::path(std::string(mpd::albumFolder(songURI)));
    if (albumFolder != songFolder)
        return readCoverIn(musicFolder / albumFolder, largest);
    return std::nullopt;
}

std::optional<std::vector<std::byte>>
readArtworkFile(std::string_view fileAddress, const std::vector<fs::path> &allowed, std::size_t largest)
{
    const std::string address(fileAddress);
    if (address.find('\0') != std::string::npos || !address.starts_with("file:"))
        return std::nullopt;
    // GLib decodes the address; a host other than this one is refused here.
    gchar *host = nullptr;
    glib::CharPtr name(g_filename_from_uri(address.c_str(), &host, nullptr));
    glib::CharPtr hostName(host);
    if (!name || (host && std::string_view(host) != "localhost"))
        return std::nullopt;
    std::error_code error;
    const auto resolved = fs::canonical(name.get(), error);
    if (error)
        return std::nullopt;
    const bool inside = std::any_of(allowed.begin(), allowed.end(), [&](const fs::path &folder) {
        std::error_code folderError;
        auto root = fs::canonical(folder, folderError);
        return !folderError && isInside(resolved, root);
    });
    if (!inside)
        return std::nullopt;
    // The resolved path, without following links: nothing changed since the check is read.
    auto read = posix::readRegularFile(resolved, largest, posix::FollowLinks::no);
    if (auto *data = std::get_if<std::vector<std::byte>>(&read))
        return std::move(*data);
    return std::nullopt;
}

std::vector<fs::path> artworkFileFolders(const std::optional<fs::path> &musicFolder)
{
    std::vector<fs::path> folders{g_get_home_dir(), g_get_user_cache_dir(), g_get_user_runtime_dir(), "/tmp",
                                  "/var/tmp"};
    if (musicFolder)
        folders.push_back(*musicFolder);
    return folders;
}

} // namespace wheelbox
