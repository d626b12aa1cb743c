#pragma once

#include "library/LibrarySnapshot.hpp"
#include "model/MediaList.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace wheelbox {

// The list behind a library path, computed from the snapshot. Paths:
//   music, music/songs, music/artists, music/albums, music/genres, music/playlists,
//   music/artists/all, music/artists/all/all, music/artists/all/<album>, music/albums/<album>,
//   music/genres/<genre token>, music/playlist/<playlist>,
//   music/artists/<artist token>[/all | /<album>]
// where <album> and <playlist> are hex persistent IDs. Throws LibraryError::unknownPath.
MediaList libraryList(const LibrarySnapshot &snapshot, std::string_view path);

// What every path shows while no library is open, or the library holds no song: one row that
// offers a retry when loading failed, with the failure's text as its subtitle so the device can
// say why, or says that there is no music, with where music goes as its subtitle when known.
MediaList unavailableLibraryList(std::string_view path, const std::optional<std::string> &loadError,
                                 const std::optional<std::string> &whereMusicGoes = std::nullopt);

} // namespace wheelbox
