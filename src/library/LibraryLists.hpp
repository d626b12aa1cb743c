#pragma once

#include "library/LibraryIndex.hpp"
#include "model/MediaList.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wheelbox {

// The rows the lists are made of: a row that opens the list at `id`; a song's row (its
// "music-track:" id, title and artist); an album's row, under its first song's album title, naming
// its artist when it has one to name; the rows that open a song's artist, its genre, a playlist.
MediaItem containerRow(std::string id, std::string title);
MediaItem songRow(const LibrarySnapshot &snapshot, const SnapshotSong &song);
MediaItem albumRow(const LibrarySnapshot &snapshot, std::string id, const SnapshotSong &leader);
MediaItem artistRow(const LibrarySnapshot &snapshot, const SnapshotSong &song);
MediaItem genreRow(const LibrarySnapshot &snapshot, const SnapshotSong &song);
MediaItem playlistRow(const SnapshotPlaylist &playlist);

// The list behind a library path, cut from the snapshot's orders. Paths:
//   music, music/songs, music/artists, music/albums, music/genres, music/playlists,
//   music/artists/all, music/artists/all/all, music/artists/all/<album>, music/albums/<album>,
//   music/genres/<genre token>, music/playlist/<playlist>,
//   music/artists/<artist token>[/all | /<album>]
// where <album> and <playlist> are hex persistent IDs. Throws LibraryError::unknownPath.
MediaList libraryList(LibraryIndex &index, std::string_view path);

// Rows offset … offset+limit-1 of that list (fewer or none past its end), with its length and, for
// a list sorted by its rows' titles, its sections; the revision is the caller's to set. Costs the
// rows asked for, whatever the list's length. Throws LibraryError::unknownPath.
MediaListWindow libraryWindow(LibraryIndex &index, std::string_view path, std::size_t offset,
                              std::size_t limit);

// The songs of that list in list order, as hex persistent IDs, without writing its rows.
// Throws LibraryError::unknownPath.
std::vector<std::string> libraryTrackIDs(LibraryIndex &index, std::string_view path);

// What every path shows while no library is open, or the library holds no song: one row that
// offers a retry when loading failed, with the failure's text as its subtitle so the device can
// say why, or says that there is no music, with where music goes as its subtitle when known.
MediaList unavailableLibraryList(std::string_view path, const std::optional<std::string> &loadError,
                                 const std::optional<std::string> &whereMusicGoes = std::nullopt);
MediaListWindow unavailableLibraryWindow(std::string_view path, const std::optional<std::string> &loadError,
                                         const std::optional<std::string> &whereMusicGoes, std::size_t offset,
                                         std::size_t limit);

} // namespace wheelbox
