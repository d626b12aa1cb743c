#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wheelbox {

// One row of a list the device shows.
struct MediaItem {
    enum class Kind { container, track, action, toggle };

    std::string id;
    std::string title;
    std::optional<std::string> subtitle = std::nullopt;
    Kind kind = Kind::container;
    bool hasChildren = false;
    bool playable = false;
    std::optional<bool> checked = std::nullopt;

    // Details the firmware shows where it can, after the fields above. Songs: their place on the
    // album (positive numbers) and length (seconds, finite and positive). Albums: their artist.
    std::optional<std::int32_t> trackNumber = std::nullopt;
    std::optional<std::int32_t> discNumber = std::nullopt;
    std::optional<double> duration = std::nullopt;
    std::optional<std::string> artist = std::nullopt;

    bool operator==(const MediaItem &) const = default;
};

std::string_view toString(MediaItem::Kind kind) noexcept;
std::optional<MediaItem::Kind> mediaItemKindFromString(std::string_view text) noexcept;

} // namespace wheelbox
