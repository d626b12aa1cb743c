#include "library/JSONLibrarySource.hpp"

#include <boost/json.hpp>

#include <charconv>
#include <fstream>
#include <sstream>

namespace wheelbox {
namespace json = boost::json;

namespace {

[[noreturn]] void malformed(const std::string &what)
{
    throw LibrarySourceError("Malformed library description: " + what);
}

std::uint64_t hexID(const json::object &object, std::string_view key)
{
    const auto *value = object.if_contains(key);
    if (!value || !value->is_string())
        malformed(std::string("missing ") + std::string(key));
    std::string_view text = value->get_string();
    std::uint64_t id = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id, 16);
    if (error != std::errc() || end != text.data() + text.size())
        malformed("bad id " + std::string(text));
    return id;
}

std::optional<std::string> optionalString(const json::object &object, std::string_view key)
{
    const auto *value = object.if_contains(key);
    if (!value || value->is_null())
        return std::nullopt;
    if (!value->is_string())
        malformed(std::string(key) + " is not a string");
    return std::string(value->get_string());
}

template <typename T> T optionalNumber(const json::object &object, std::string_view key, T fallback)
{
    const auto *value = object.if_contains(key);
    if (!value)
        return fallback;
    if (!value->is_int64())
        malformed(std::string(key) + " is not an integer");
    return static_cast<T>(value->get_int64());
}

bool optionalBool(const json::object &object, std::string_view key, bool fallback)
{
    const auto *value = object.if_contains(key);
    if (!value)
        return fallback;
    if (!value->is_bool())
        malformed(std::string(key) + " is not a boolean");
    return value->get_bool();
}

template <typename Enum, std::size_t N>
Enum enumValue(const json::object &object, std::string_view key,
               const std::pair<std::string_view, Enum> (&names)[N])
{
    auto text = optionalString(object, key);
    if (!text)
        return names[0].second;
    for (const auto &[name, value] : names) {
        if (name == *text)
            return value;
    }
    malformed("unknown " + std::string(key) + " " + *text);
}

constexpr std::pair<std::string_view, LibraryMediaKind> mediaKinds[] = {
    {"song", LibraryMediaKind::song},
    {"movie", LibraryMediaKind::movie},
    {"podcast", LibraryMediaKind::podcast},
    {"audiobook", LibraryMediaKind::audiobook},
    {"musicVideo", LibraryMediaKind::musicVideo},
    {"other", LibraryMediaKind::other}};
constexpr std::pair<std::string_view, LibraryDistinguishedKind> distinguishedKinds[] = {
    {"none", LibraryDistinguishedKind::none},
    {"music", LibraryDistinguishedKind::music},
    {"purchased", LibraryDistinguishedKind::purchased},
    {"other", LibraryDistinguishedKind::other}};
constexpr std::pair<std::string_view, LibraryPlaylistKind> playlistKinds[] = {
    {"regular", LibraryPlaylistKind::regular},
    {"smart", LibraryPlaylistKind::smart},
    {"genius", LibraryPlaylistKind::genius},
    {"folder", LibraryPlaylistKind::folder}};

const json::array &arrayAt(const json::object &object, std::string_view key)
{
    static const json::array empty;
    const auto *value = object.if_contains(key);
    if (!value)
        return empty;
    if (!value->is_array())
        malformed(std::string(key) + " is not an array");
    return value->get_array();
}

const json::object &asObject(const json::value &value, const char *what)
{
    if (!value.is_object())
        malformed(std::string(what) + " is not an object");
    return value.get_object();
}

} // namespace

JSONLibrarySource JSONLibrarySource::fromFile(const std::filesystem::path &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw LibrarySourceError("Cannot read " + path.string());
    std::ostringstream text;
    text << file.rdbuf();
    return JSONLibrarySource(text.str());
}

LibraryContents JSONLibrarySource::open()
{
    boost::system::error_code error;
    auto document = json::parse(json_, error);
    if (error)
        malformed(error.message());
    const auto &root = asObject(document, "the library");
    if (auto message = optionalString(root, "error"))
        throw LibrarySourceError(*message);

    LibraryContents contents;
    for (const auto &value : arrayAt(root, "songs")) {
        const auto &entry = asObject(value, "a song");
        LibrarySong song;
        song.persistentID = hexID(entry, "id");
        song.mediaKind = enumValue(entry, "kind", mediaKinds);
        song.title = optionalString(entry, "title").value_or("");
        song.artistName = optionalString(entry, "artist");
        if (const auto *album = entry.if_contains("album")) {
            const auto &albumObject = asObject(*album, "an album");
            song.album.persistentID = hexID(albumObject, "id");
            song.album.title = optionalString(albumObject, "title");
            song.album.discNumber = optionalNumber(albumObject, "disc", 0);
            song.album.artistName = optionalString(albumObject, "artist");
        }
        song.genre = optionalString(entry, "genre");
        song.trackNumber = optionalNumber(entry, "track", 0);
        if (const auto *duration = entry.if_contains("duration")) {
            if (!duration->is_number())
                malformed("duration is not a number");
            song.duration = duration->to_number<double>();
        }
        contents.songs.push_back(std::move(song));
    }
    for (const auto &value : arrayAt(root, "playlists")) {
        const auto &entry = asObject(value, "a playlist");
        LibraryPlaylist playlist;
        playlist.persistentID = hexID(entry, "id");
        playlist.name = optionalString(entry, "name").value_or("");
        playlist.isVisible = optionalBool(entry, "visible", true);
        playlist.isPrimary = optionalBool(entry, "primary", false);
        playlist.distinguishedKind = enumValue(entry, "distinguished", distinguishedKinds);
        playlist.kind = enumValue(entry, "kind", playlistKinds);
        for (const auto &item : arrayAt(entry, "items")) {
            if (!item.is_int64() || item.get_int64() < 0 ||
                static_cast<std::size_t>(item.get_int64()) >= contents.songs.size())
                malformed("a playlist item is not a song position");
            playlist.items.push_back(static_cast<std::size_t>(item.get_int64()));
        }
        contents.playlists.push_back(std::move(playlist));
    }
    return contents;
}

} // namespace wheelbox
