#include "SongIndex.hpp"

#include "lib/mpd/MpdIdentity.hpp"

#include <algorithm>

namespace wheelbox::osascript {
namespace {

bool byID(std::uint64_t a, std::uint64_t b) noexcept
{
    return a < b;
}

} // namespace

SongIndex SongIndex::load(const mpd::MpdConnection &connection)
{
    SongIndex index;
    if (!mpd_send_list_all(connection.get(), ""))
        connection.check();
    while (mpd_pair *pair = mpd_recv_pair(connection.get())) {
        if (std::string_view(pair->name) == "file") {
            std::string_view uri = pair->value;
            index.entries_.push_back({mpd::songPersistentID(uri),
                                      static_cast<std::uint32_t>(index.uris_.size()),
                                      static_cast<std::uint32_t>(uri.size())});
            index.uris_.append(uri);
        }
        mpd_return_pair(connection.get(), pair);
    }
    mpd_response_finish(connection.get());
    connection.check();
    std::sort(index.entries_.begin(), index.entries_.end(),
              [](const Entry &a, const Entry &b) { return byID(a.id, b.id); });
    return index;
}

std::vector<std::string_view> SongIndex::find(std::uint64_t id) const
{
    std::vector<std::string_view> found;
    auto range = std::equal_range(entries_.begin(), entries_.end(), Entry{id, 0, 0},
                                  [](const Entry &a, const Entry &b) { return byID(a.id, b.id); });
    for (auto entry = range.first; entry != range.second; ++entry)
        found.push_back(uri(*entry));
    return found;
}

std::vector<std::string_view> SongIndex::all() const
{
    std::vector<std::string_view> uris;
    uris.reserve(entries_.size());
    for (const auto &entry : entries_)
        uris.push_back(uri(entry));
    return uris;
}

} // namespace wheelbox::osascript
