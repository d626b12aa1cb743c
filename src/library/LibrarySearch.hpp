#pragma once

#include "library/LibrarySnapshot.hpp"
#include "library/SearchIndex.hpp"
#include "model/MediaList.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace wheelbox {

// The id of every search's list.
inline constexpr std::string_view searchListID = "search";
// A longer query is cut to this many characters.
inline constexpr std::size_t searchQueryCharacters = 200;
// Each kind of row a search lists at most this many of.
inline constexpr std::size_t searchRowsPerKind = 50;

// The query as a search takes it: well formed, cut to its first searchQueryCharacters characters.
std::string searchQuery(std::string_view query);

// The rows whose names match the query (see SearchIndex::find): artists, albums, songs, playlists
// and genres, each in its list's order and at most searchRowsPerKind of each. Artists, albums,
// playlists and genres are the container rows their lists show, so they open the same lists;
// songs are song rows. The list's id is "search" and its title the query, as searchQuery made it.
MediaList searchList(const LibrarySnapshot &snapshot, const SearchIndex &index, std::string_view query);

} // namespace wheelbox
