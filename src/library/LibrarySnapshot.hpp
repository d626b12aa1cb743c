#pragma once

#include "library/TextPool.hpp"
#include "platform/LibrarySource.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wheelbox {
namespace icu {
class TextCollator;
}

// Position of a text in the snapshot's collation order. Equal ranks mean canonically equivalent
// texts, so ranks serve both for sorting and for the equality of names.
using TextRank = std::uint32_t;

// A song as the lists see it: keys trimmed, texts ranked. Its texts live in the snapshot's pool
// (LibrarySnapshot::text); an absent artist, album title or genre is the empty text. Kept small and
// flat, as a library may hold hundreds of thousands of songs and every list sorts them.
struct SnapshotSong {
    std::uint64_t persistentID = 0;
    std::uint64_t albumID = 0;
    TextID title = 0;      // as stored; never empty
    TextID artistName = 0; // trimmed
    TextID albumTitle = 0; // trimmed
    TextID genre = 0;      // trimmed
    // Numbers beyond 16 bits are clamped: no disc or track is numbered that high, and the room
    // they leave keeps the duration without growing the record.
    std::int16_t discNumber = 0;
    std::int16_t trackNumber = 0;
    std::uint32_t durationMilliseconds = 0; // 0 when unknown

    TextRank titleRank = 0;
    TextRank artistRank = 0;     // of "" when the artist is absent
    TextRank albumTitleRank = 0; // of "" when the album title is absent
    TextRank genreRank = 0;
};

struct SnapshotPlaylist {
    std::uint64_t persistentID = 0;
    std::string name;
    // The playable entries in playlist order: positions in LibrarySnapshot::entrySongs().
    std::vector<std::uint32_t> entries;
};

// The songs and playlists the device may show, read once from a library source and then only read.
// Building it does all the text work (trimming, normalising, collation keys) once, so that every
// list is one pass, a hash grouping and one integer sort.
class LibrarySnapshot {
  public:
    LibrarySnapshot(LibraryContents contents, const icu::TextCollator &collator);

    // The kept songs in library order: songs only, with a title, first of each persistent ID.
    const std::vector<SnapshotSong> &tracks() const noexcept { return tracks_; }
    // The kept playlists, sorted by name (stable).
    const std::vector<SnapshotPlaylist> &playlists() const noexcept { return playlists_; }

    // What playlist entries point at: the kept songs first, then any song a playlist holds under a
    // kept persistent ID although the library walk dropped that item as a repeat.
    const SnapshotSong &entrySong(std::uint32_t position) const noexcept
    {
        return position < tracks_.size() ? tracks_[position] : playlistOnlySongs_[position - tracks_.size()];
    }

    std::string_view text(TextID id) const noexcept { return texts_.text(id); }

    // The artist an album row names: the album artist of its songs, else the artist all of them
    // share; 0 (the empty text) when neither.
    TextID albumArtist(std::uint64_t albumID) const noexcept;

    // The rank of an artist or genre name (any string; normalised here) if a song has a name equal
    // to it. Titles are left out: no list looks a song up by its title.
    std::optional<TextRank> nameRank(std::string_view name) const;

  private:
    class Ranking;

    TextPool texts_;
    std::vector<SnapshotSong> tracks_;
    std::vector<SnapshotSong> playlistOnlySongs_;
    std::vector<SnapshotPlaylist> playlists_;
    // Artist and genre names, normalised, and their ranks in the order of those texts' bytes: a
    // few large blocks rather than a node per name, so nothing small outlives the build scattered
    // among its freed temporaries.
    struct NameEntry {
        TextID name;
        TextRank rank;
    };
    TextPool normalizedNames_;
    std::vector<NameEntry> nameIndex_;
    // One entry per album that has an artist to name, sorted by album: albums are far fewer than
    // songs, so this costs less than a field in every song.
    struct AlbumArtist {
        std::uint64_t albumID;
        TextID artist;
    };
    std::vector<AlbumArtist> albumArtists_;
};

} // namespace wheelbox
