#include "library/LibrarySearch.hpp"

#include "lib/icu/SearchText.hpp"
#include "library/LibraryLists.hpp"
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
    for (auto song : matches.artists)
        list.items.push_back(artistRow(snapshot, tracks[song]));
    for (auto song : matches.albums)
        list.items.push_back(
            albumRow(snapshot, "music/albums/" + formatPersistentID(tracks[song].albumID), tracks[song]));
    for (auto song : matches.songs)
        list.items.push_back(songRow(snapshot, tracks[song]));
    for (auto playlist : matches.playlists)
        list.items.push_back(playlistRow(snapshot.playlists()[playlist]));
    for (auto song : matches.genres)
        list.items.push_back(genreRow(snapshot, tracks[song]));
    return list;
}

} // namespace wheelbox
