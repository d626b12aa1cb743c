#pragma once

#include "lib/mpd/MpdConnection.hpp"
#include "lib/mpd/MpdPointers.hpp"

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace wheelbox::mpd {

// Sends the command whose reply lists the one song being read; false when libmpdclient could not.
using SongRequest = std::function<bool(mpd_connection *)>;

// Reads again a song whose reply held a line too long for libmpdclient (a huge tag), once that line
// has broken `connection`: opens it again with `reopen`, then sends `request` once with no tags and
// once with each of `tags` alone. A tag whose line is still too long is left out (the connection is
// opened again), and a title too long becomes the song's file title (songFileTitle). Returns none when the
// song is gone, its name itself is too long, or the MPD is too old to send tags one at a time. The connection
// is left sending only the last tag asked for: the caller chooses its tags again. Each exchange keeps the
// connection's timeout. Throws MpdError for any other failure.
SongPtr readSongTagByTag(MpdConnection &connection, const std::function<MpdConnection()> &reopen,
                         std::span<const mpd_tag_type> tags, const SongRequest &request);

} // namespace wheelbox::mpd
