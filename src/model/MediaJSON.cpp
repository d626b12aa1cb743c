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

[[noreturn]] void invalid(const char *what)
{
    throw JSONCodingError(std::string("Invalid JSON for ") + what);
}

const json::object &asObject(const json::value &value, const char *what)
{
    const auto *object = value.if_object();
    if (!object)
        invalid(what);
    return *object;
}

std::string requiredString(const json::object &object, std::string_view key, const char *what)
{
    const auto *value = object.if_contains(key);
    if (!value || !value->is_string())
        invalid(what);
    return std::string(value->get_string());
}

bool requiredBool(const json::object &object, std::string_view key, const char *what)
{
    const auto *value = object.if_contains(key);
    if (!value || !value->is_bool())
        invalid(what);
    return value->get_bool();
}

double requiredDouble(const json::object &object, std::string_view key, const char *what)
{
    const auto *value = object.if_contains(key);
    if (!value || !value->is_number())
        invalid(what);
    return value->to_number<double>();
}

// A missing key and null both read as absent; any other type is malformed.
const json::value *optionalValue(const json::object &object, std::string_view key)
{
    const auto *value = object.if_contains(key);
    return value && !value->is_null() ? value : nullptr;
}

std::optional<std::string> optionalString(const json::object &object, std::string_view key, const char *what)
{
    const auto *value = optionalValue(object, key);
    if (!value)
        return std::nullopt;
    if (!value->is_string())
        invalid(what);
    return std::string(value->get_string());
}

std::optional<std::int64_t> optionalInteger(const json::object &object, std::string_view key,
                                            const char *what)
{
    const auto *value = optionalValue(object, key);
    if (!value)
        return std::nullopt;
    if (value->is_int64())
        return value->get_int64();
    if (value->is_uint64() && value->get_uint64() <= static_cast<std::uint64_t>(INT64_MAX))
        return static_cast<std::int64_t>(value->get_uint64());
    invalid(what);
}

} // namespace

json::value toJSON(const MediaItem &item)
{
    json::object object;
    object.reserve(7);
    object.emplace("id", item.id);
    object.emplace("title", item.title);
    if (item.subtitle)
        object.emplace("subtitle", *item.subtitle);
    object.emplace("kind", toString(item.kind));
    object.emplace("hasChildren", item.hasChildren);
    object.emplace("playable", item.playable);
    if (item.checked)
        object.emplace("checked", *item.checked);
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

json::value toJSON(const NowPlayingState &state)
{
    json::object object;
    object.reserve(10);
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
    return object;
}

MediaItem mediaItemFromJSON(const json::value &value)
{
    static constexpr const char *what = "a list row";
    const auto &object = asObject(value, what);
    MediaItem item;
    item.id = requiredString(object, "id", what);
    item.title = requiredString(object, "title", what);
    item.subtitle = optionalString(object, "subtitle", what);
    auto kind = mediaItemKindFromString(requiredString(object, "kind", what));
    if (!kind)
        invalid(what);
    item.kind = *kind;
    item.hasChildren = requiredBool(object, "hasChildren", what);
    item.playable = requiredBool(object, "playable", what);
    if (const auto *checked = optionalValue(object, "checked")) {
        if (!checked->is_bool())
            invalid(what);
        item.checked = checked->get_bool();
    }
    return item;
}

MediaList mediaListFromJSON(const json::value &value)
{
    static constexpr const char *what = "a list";
    const auto &object = asObject(value, what);
    MediaList list;
    list.id = requiredString(object, "id", what);
    list.title = requiredString(object, "title", what);
    const auto *items = object.if_contains("items");
    if (!items || !items->is_array())
        invalid(what);
    list.items.reserve(items->get_array().size());
    for (const auto &item : items->get_array())
        list.items.push_back(mediaItemFromJSON(item));
    return list;
}

NowPlayingState nowPlayingStateFromJSON(const json::value &value)
{
    static constexpr const char *what = "a now-playing reading";
    const auto &object = asObject(value, what);
    NowPlayingState state;
    state.source = requiredString(object, "source", what);
    state.persistentID = optionalString(object, "persistentID", what);
    state.title = requiredString(object, "title", what);
    state.artist = requiredString(object, "artist", what);
    state.album = optionalString(object, "album", what);
    state.elapsed = requiredDouble(object, "elapsed", what);
    state.duration = requiredDouble(object, "duration", what);
    state.isPlaying = requiredBool(object, "isPlaying", what);
    state.queuePosition = optionalInteger(object, "queuePosition", what);
    state.queueCount = optionalInteger(object, "queueCount", what);
    return state;
}

} // namespace wheelbox
