#pragma once

#include "model/MediaJSON.hpp"

#include <boost/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// Reads the records back from their JSON form, strictly: the program only writes them, so only the
// tests need this to check what it wrote.
namespace wheelbox::test {
namespace json = boost::json;

[[noreturn]] inline void invalid(const char *what)
{
    throw JSONCodingError(std::string("Invalid JSON for ") + what);
}

inline const json::object &asObject(const json::value &value, const char *what)
{
    const auto *object = value.if_object();
    if (!object)
        invalid(what);
    return *object;
}

inline std::string requiredString(const json::object &object, std::string_view key, const char *what)
{
    const auto *value = object.if_contains(key);
    if (!value || !value->is_string())
        invalid(what);
    return std::string(value->get_string());
}

inline bool requiredBool(const json::object &object, std::string_view key, const char *what)
{
    const auto *value = object.if_contains(key);
    if (!value || !value->is_bool())
        invalid(what);
    return value->get_bool();
}

inline double requiredDouble(const json::object &object, std::string_view key, const char *what)
{
    const auto *value = object.if_contains(key);
    if (!value || !value->is_number())
        invalid(what);
    return value->to_number<double>();
}

// A missing key and null both read as absent; any other type is malformed.
inline const json::value *optionalValue(const json::object &object, std::string_view key)
{
    const auto *value = object.if_contains(key);
    return value && !value->is_null() ? value : nullptr;
}

inline std::optional<std::string> optionalString(const json::object &object, std::string_view key,
                                                 const char *what)
{
    const auto *value = optionalValue(object, key);
    if (!value)
        return std::nullopt;
    if (!value->is_string())
        invalid(what);
    return std::string(value->get_string());
}

inline std::optional<std::int64_t> optionalInteger(const json::object &object, std::string_view key,
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

inline MediaItem mediaItemFromJSON(const json::value &value)
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
    for (auto [key, field] :
         {std::pair{"trackNumber", &MediaItem::trackNumber}, {"discNumber", &MediaItem::discNumber}}) {
        if (auto number = optionalInteger(object, key, what)) {
            if (*number <= 0 || *number > INT32_MAX)
                invalid(what);
            item.*field = static_cast<std::int32_t>(*number);
        }
    }
    if (const auto *duration = optionalValue(object, "duration")) {
        if (!duration->is_number() || !(duration->to_number<double>() > 0))
            invalid(what);
        item.duration = duration->to_number<double>();
    }
    item.artist = optionalString(object, "artist", what);
    return item;
}

inline MediaList mediaListFromJSON(const json::value &value)
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

inline NowPlayingState nowPlayingStateFromJSON(const json::value &value)
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
    if (auto shuffle = optionalString(object, "shuffle", what)) {
        if (*shuffle != "On" && *shuffle != "Off")
            invalid(what);
        state.shuffle = *shuffle == "On";
    }
    return state;
}

} // namespace wheelbox::test
