#include "library/LibrarySearch.hpp"

#include "lib/icu/SearchText.hpp"
#include "library/LibraryLists.hpp"
#include "library/PathToken.hpp"
#include "model/PersistentID.hpp"

namespace wheelbox {

std::string searchQuery(std::string_view query)
{
    return icu::leadingCharacters(query, searchQueryCharacters);
}

MediaList searchList(const LibrarySnapshot &snapshot, const SearchIndex &index, std::string_view query)
{
    auto matches = index.find(query, searchRowsPerKind);
    MediaList list{std::string(searchListID), std::string(query), {}};
    list.items.reserve(matches.artists.size() + matches.albums.size() + matches.songs.size() +
                       matches.playlists.size() + matches.genres.size());
    const auto &tracks = snapshot.tracks();
    auto named = [&](std::string_view prefix, TextID name) {
        auto text = snapshot.text(name);
        return containerRow(std::string(prefix) + encodePathToken(text), std::string(text));
    };
    for (auto song : matches.artists)
        list.items.push_back(named("music/artists/", tracks[song].artistName));
    for (auto song : matches.albums)
        list.items.push_back(
            albumRow(snapshot, "music/albums/" + formatPersistentID(tracks[song].albumID), tracks[song]));
    for (auto song : matches.songs)
        list.items.push_back(songRow(snapshot, tracks[song]));
    for (auto playlist : matches.playlists) {
        const auto &kept = snapshot.playlists()[playlist];
        list.items.push_back(
            containerRow("music/playlist/" + formatPersistentID(kept.persistentID), kept.name));
    }
    for (auto song : matches.genres)
        list.items.push_back(named("music/genres/", tracks[song].genre));
    return list;
}

} // namespace wheelbox
