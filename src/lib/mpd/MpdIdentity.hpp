#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The persistent identifiers of songs, albums and playlists that live in MPD. The library and the
// script stand-in must agree on them to the bit, so both compute them here.
namespace wheelbox::mpd {

std::uint64_t fnv1a64(std::string_view bytes) noexcept;

// A song is its URI: the same file keeps its identifier across database updates.
std::uint64_t songPersistentID(std::string_view uri) noexcept;

// An album is its title plus the best discriminator its songs carry: the MusicBrainz album ID,
// else the album artist, else the folder (with a trailing "CD 1" / "Disc 2" folder folded into
// its parent). So a compilation without an album artist stays one album, and two same-titled
// albums by different artists stay two.
std::uint64_t albumPersistentID(std::string_view title, std::string_view musicBrainzAlbumID,
                                std::string_view albumArtist, std::string_view songURI) noexcept;

// The folder an album's songs are grouped by: the URI's parent, skipping a disc folder.
std::string_view albumFolder(std::string_view songURI) noexcept;

// A stored playlist is its name.
std::uint64_t playlistPersistentID(std::string_view name) noexcept;

} // namespace wheelbox::mpd
