#pragma once

#include "model/MediaItem.hpp"

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

} // namespace wheelbox
