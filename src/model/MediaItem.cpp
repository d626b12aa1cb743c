#include "model/MediaItem.hpp"

namespace wheelbox {

std::string_view toString(MediaItem::Kind kind) noexcept
{
    switch (kind) {
    case MediaItem::Kind::container:
        return "container";
    case MediaItem::Kind::track:
        return "track";
    case MediaItem::Kind::action:
        return "action";
    case MediaItem::Kind::toggle:
        return "toggle";
    }
    return "container";
}

std::optional<MediaItem::Kind> mediaItemKindFromString(std::string_view text) noexcept
{
    for (auto kind : {MediaItem::Kind::container, MediaItem::Kind::track, MediaItem::Kind::action,
                      MediaItem::Kind::toggle}) {
        if (toString(kind) == text)
            return kind;
    }
    return std::nullopt;
}

} // namespace wheelbox
