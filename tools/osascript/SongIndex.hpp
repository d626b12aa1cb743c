#pragma once

#include "lib/mpd/MpdConnection.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace wheelbox::osascript {

// Every song's persistent ID, for `every track of library playlist 1 whose persistent ID is …`.
// Built once per run from `listall`, the lightest listing MPD has: at 100,000 songs the URIs
// are a few megabytes, kept in one buffer beside a sorted table of their hashes.
class SongIndex {
  public:
    // Throws MpdError.
    static SongIndex load(const mpd::MpdConnection &connection);

    // The URIs whose identifier is `id` (two only if their hashes collide).
    std::vector<std::string_view> find(std::uint64_t id) const;
    std::vector<std::string_view> all() const;
    bool empty() const noexcept { return entries_.empty(); }

  private:
    struct Entry {
        std::uint64_t id;
        std::uint32_t offset;
        std::uint32_t size;
    };

    std::string_view uri(const Entry &entry) const noexcept
    {
        return std::string_view(uris_).substr(entry.offset, entry.size);
    }

    std::string uris_;
    std::vector<Entry> entries_;
};

} // namespace wheelbox::osascript
