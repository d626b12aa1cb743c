#pragma once

#include "platform/LibrarySource.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace wheelbox {
namespace icu {
class TextCollator;
}

// Position of a text in the snapshot's collation order. Equal ranks mean canonically equivalent
// texts, so ranks serve both for sorting and for the equality of names.
using TextRank = std::uint32_t;

// A song as the lists see it: keys trimmed, texts ranked.
struct SnapshotSong {
    std::uint64_t persistentID = 0;
    std::string title;                     // as stored; never empty
    std::optional<std::string> artistName; // trimmed; absent when blank
    std::uint64_t albumID = 0;
    std::optional<std::string> albumTitle; // trimmed; absent when blank
    int discNumber = 0;
    int trackNumber = 0;
    std::string genre; // trimmed; empty when missing

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
    const std::unordered_set<std::uint64_t> &libraryTrackIDs() const noexcept { return libraryTrackIDs_; }
    // The kept playlists, sorted by name (stable).
    const std::vector<SnapshotPlaylist> &playlists() const noexcept { return playlists_; }

    // What playlist entries point at: the kept songs first, then any song a playlist holds under a
    // kept persistent ID although the library walk dropped that item as a repeat.
    const SnapshotSong &entrySong(std::uint32_t position) const noexcept
    {
        return position < tracks_.size() ? tracks_[position] : playlistOnlySongs_[position - tracks_.size()];
    }

    // The rank of a text (any string; normalised here) if the snapshot holds a text equal to it.
    std::optional<TextRank> rankOf(std::string_view text) const;
    TextRank emptyTextRank() const noexcept { return emptyTextRank_; }

  private:
    class Ranking;

    std::vector<SnapshotSong> tracks_;
    std::vector<SnapshotSong> playlistOnlySongs_;
    std::unordered_set<std::uint64_t> libraryTrackIDs_;
    std::vector<SnapshotPlaylist> playlists_;
    std::unordered_map<std::string, TextRank> rankByText_;
    TextRank emptyTextRank_ = 0;
};

} // namespace wheelbox
