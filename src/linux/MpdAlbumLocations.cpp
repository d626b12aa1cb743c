#include "linux/MpdAlbumLocations.hpp"

#include <algorithm>
#include <unordered_set>

namespace wheelbox {

void MpdAlbumLocations::replace(const std::vector<LibrarySong> &songs, const std::vector<std::string> &uris)
{
    std::vector<Entry> entries;
    std::string text;
    std::unordered_set<std::uint64_t> seen;
    for (std::size_t i = 0; i < songs.size() && i < uris.size(); ++i) {
        if (!seen.insert(songs[i].album.persistentID).second)
            continue;
        entries.push_back({songs[i].album.persistentID, text.size(), uris[i].size()});
        text += uris[i];
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry &a, const Entry &b) { return a.album < b.album; });
    text.shrink_to_fit();
    entries.shrink_to_fit();
    std::lock_guard guard(lock_);
    entries_ = std::move(entries);
    text_ = std::move(text);
}

std::optional<std::string> MpdAlbumLocations::songOf(std::uint64_t albumID) const
{
    std::lock_guard guard(lock_);
    auto found = std::lower_bound(entries_.begin(), entries_.end(), albumID,
                                  [](const Entry &entry, std::uint64_t id) { return entry.album < id; });
    if (found == entries_.end() || found->album != albumID)
        return std::nullopt;
    return text_.substr(found->start, found->length);
}

} // namespace wheelbox
