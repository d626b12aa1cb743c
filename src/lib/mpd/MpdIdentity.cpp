#include "lib/mpd/MpdIdentity.hpp"

#include <cctype>

namespace wheelbox::mpd {
namespace {

constexpr std::uint64_t fnvOffsetBasis = 0xcbf29ce484222325ULL;
constexpr std::uint64_t fnvPrime = 0x100000001b3ULL;

std::uint64_t fnvAppend(std::uint64_t hash, std::string_view bytes) noexcept
{
    for (unsigned char byte : bytes) {
        hash ^= byte;
        hash *= fnvPrime;
    }
    return hash;
}

// "CD 1", "cd2", "Disc 02", "Disk 3": a folder that only splits an album into discs.
bool isDiscFolder(std::string_view name) noexcept
{
    std::string_view rest;
    auto startsWith = [&](std::string_view prefix) {
        if (name.size() < prefix.size())
            return false;
        for (std::size_t i = 0; i < prefix.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(name[i])) != prefix[i])
                return false;
        }
        rest = name.substr(prefix.size());
        return true;
    };
    if (!startsWith("disc") && !startsWith("disk") && !startsWith("cd"))
        return false;
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    if (rest.empty())
        return false;
    for (char c : rest) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

} // namespace

std::uint64_t fnv1a64(std::string_view bytes) noexcept
{
    return fnvAppend(fnvOffsetBasis, bytes);
}

std::uint64_t songPersistentID(std::string_view uri) noexcept
{
    return fnv1a64(uri);
}

std::string_view albumFolder(std::string_view songURI) noexcept
{
    auto parentOf = [](std::string_view path) {
        auto slash = path.rfind('/');
        return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
    };
    auto folder = parentOf(songURI);
    auto slash = folder.rfind('/');
    auto last = slash == std::string_view::npos ? folder : folder.substr(slash + 1);
    if (isDiscFolder(last))
        folder = parentOf(folder);
    return folder;
}

std::uint64_t albumPersistentID(std::string_view title, std::string_view musicBrainzAlbumID,
                                std::string_view albumArtist, std::string_view songURI) noexcept
{
    // The unit separator keeps "ab"+"c" and "a"+"bc" apart; the tag says which discriminator won.
    auto hash = fnvAppend(fnvOffsetBasis, "album\x1f");
    hash = fnvAppend(hash, title);
    if (!musicBrainzAlbumID.empty()) {
        hash = fnvAppend(hash, "\x1fmbid\x1f");
        return fnvAppend(hash, musicBrainzAlbumID);
    }
    if (!albumArtist.empty()) {
        hash = fnvAppend(hash, "\x1f"
                               "artist\x1f");
        return fnvAppend(hash, albumArtist);
    }
    hash = fnvAppend(hash, "\x1f"
                           "folder\x1f");
    return fnvAppend(hash, albumFolder(songURI));
}

std::uint64_t playlistPersistentID(std::string_view name) noexcept
{
    return fnvAppend(fnvAppend(fnvOffsetBasis, "playlist:"), name);
}

} // namespace wheelbox::mpd
