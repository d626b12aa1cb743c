#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace wheelbox {

// One row of a list the device shows.
struct MediaItem {
    enum class Kind { container, track, action, toggle };

    std::string id;
    std::string title;
    std::optional<std::string> subtitle;
    Kind kind = Kind::container;
    bool hasChildren = false;
    bool playable = false;
    std::optional<bool> checked;

    bool operator==(const MediaItem &) const = default;
};

std::string_view toString(MediaItem::Kind kind) noexcept;
std::optional<MediaItem::Kind> mediaItemKindFromString(std::string_view text) noexcept;

} // namespace wheelbox
