#include "model/MediaJSON.hpp"

#include <boost/json.hpp>

#include <cmath>

namespace wheelbox {
namespace json = boost::json;

namespace {

double finiteOrThrow(double value, const char *field)
{
    if (!std::isfinite(value))
        throw JSONCodingError(std::string("Cannot encode a non-finite number in \"") + field + "\"");
    return value;
}

template <typename T> json::value optionalToJSON(const std::optional<T> &value)
{
    if (!value)
        return nullptr;
    return json::value(*value);
}

} // namespace

json::value toJSON(const MediaItem &item)
{
    json::object object;
    object.reserve(11);
    object.emplace("id", item.id);
    object.emplace("title", item.title);
    if (item.subtitle)
        object.emplace("subtitle", *item.subtitle);
    object.emplace("kind", toString(item.kind));
    object.emplace("hasChildren", item.hasChildren);
    object.emplace("playable", item.playable);
    if (item.checked)
        object.emplace("checked", *item.checked);
    // Only values the firmware can show: anything else is left out, as an absent detail is.
    if (item.trackNumber && *item.trackNumber > 0)
        object.emplace("trackNumber", *item.trackNumber);
    if (item.discNumber && *item.discNumber > 0)
        object.emplace("discNumber", *item.discNumber);
    if (item.duration && std::isfinite(*item.duration) && *item.duration > 0)
        object.emplace("duration", *item.duration);
    if (item.artist)
        object.emplace("artist", *item.artist);
    return object;
}

json::value toJSON(const MediaList &list)
{
    json::array items;
    items.reserve(list.items.size());
    for (const auto &item : list.items)
        items.push_back(toJSON(item));
    json::object object;
    object.reserve(3);
    object.emplace("id", list.id);
    object.emplace("title", list.title);
    object.emplace("items", std::move(items));
    return object;
}

json::value toJSON(const MediaListWindow &window)
{
    auto value = toJSON(window.list);
    auto &object = value.as_object();
    object.reserve(7);
    object.emplace("count", static_cast<std::int64_t>(window.count));
    object.emplace("offset", static_cast<std::int64_t>(window.offset));
    if (window.sections) {
        json::array sections;
        sections.reserve(window.sections->size());
        for (const auto &section : *window.sections)
            sections.push_back(json::object{{"initial", section.initial},
                                            {"index", static_cast<std::int64_t>(section.index)}});
        object.emplace("sections", std::move(sections));
    }
    object.emplace("revision", static_cast<std::int64_t>(window.revision));
    return value;
}

json::value toJSON(const NowPlayingState &state)
{
    json::object object;
    object.reserve(11);
    object.emplace("source", state.source);
    object.emplace("persistentID", optionalToJSON(state.persistentID));
    object.emplace("title", state.title);
    object.emplace("artist", state.artist);
    object.emplace("album", optionalToJSON(state.album));
    object.emplace("elapsed", finiteOrThrow(state.elapsed, "elapsed"));
    object.emplace("duration", finiteOrThrow(state.duration, "duration"));
    object.emplace("isPlaying", state.isPlaying);
    object.emplace("queuePosition", optionalToJSON(state.queuePosition));
    object.emplace("queueCount", optionalToJSON(state.queueCount));
    if (state.shuffle)
        object.emplace("shuffle", *state.shuffle ? "On" : "Off");
    return object;
}

} // namespace wheelbox
