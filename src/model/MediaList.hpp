#pragma once

#include "model/MediaItem.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wheelbox {

// One screen of a menu: the path that produced it, its title and its rows.
struct MediaList {
    std::string id;
    std::string title;
    std::vector<MediaItem> items;

    bool operator==(const MediaList &) const = default;
};

// Where the rows filed under one initial letter begin in a sorted list.
struct ListSection {
    std::string initial;
    std::uint64_t index = 0;

    bool operator==(const ListSection &) const = default;
};

// A stretch of a list: `list` holds the rows from `offset` on, of `count` in the whole list.
// `sections` covers the whole list and is absent for a list not sorted by its rows' titles.
// `revision` names the library read the rows come from: rows of two revisions may not fit together.
struct MediaListWindow {
    MediaList list;
    std::uint64_t count = 0;
    std::uint64_t offset = 0;
    std::optional<std::vector<ListSection>> sections;
    std::uint64_t revision = 0;

    bool operator==(const MediaListWindow &) const = default;
};

} // namespace wheelbox
