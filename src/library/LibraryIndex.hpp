#pragma once

#include "library/LibrarySnapshot.hpp"
#include "model/MediaList.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace wheelbox {
namespace icu {
class InitialLetters;
}

// The orders every list is cut from, each built the first time a list needs it and then kept as
// long as the snapshot: a window of a list costs its rows and a binary search, not a pass over the
// library and a sort. Only what the user opens is built, four bytes a song for each song order.
// Owned with its snapshot by the library provider; used only on the media queue.
class LibraryIndex {
  public:
    // Rows of one order as positions (for LibrarySnapshot::entrySong) and, for an order sorted by
    // the rows' titles, where each initial begins.
    struct Order {
        std::vector<std::uint32_t> positions;
        std::vector<ListSection> sections;
    };

    // Both must outlive the index.
    LibraryIndex(const LibrarySnapshot &snapshot, icu::InitialLetters &initials);

    const LibrarySnapshot &snapshot() const noexcept { return snapshot_; }

    // Every song in title order, with sections.
    const Order &songsByTitle();
    // Every song in artist order: each artist's songs one run, in album order.
    const Order &songsByArtist();
    // Every song by album ID, each album's songs in album order: each album one run.
    const Order &songsByAlbum();
    // Every song by genre, each genre's songs in album order: each genre one run.
    const Order &songsByGenre();
    // The first song of each titled album, by album title then album ID, with sections.
    const Order &albumsByTitle();
    // The same songs by artist, album title and album ID.
    const Order &albumsByArtist();
    // The first song of each artist name, by name, with sections by the name.
    const Order &artists();
    // The first song of each non-blank genre, by genre, with sections by the genre.
    const Order &genres();
    // Every playlist, as positions in the snapshot's playlists (already by name), with sections.
    const Order &playlists();

    // Where the initials change in a run of `count` titles.
    std::vector<ListSection> sectionsOf(std::size_t count,
                                        const std::function<std::string_view(std::size_t)> &titleAt);

  private:
    const LibrarySnapshot &snapshot_;
    icu::InitialLetters &initials_;
    std::optional<Order> songsByTitle_, songsByArtist_, songsByAlbum_, songsByGenre_;
    std::optional<Order> albumsByTitle_, albumsByArtist_, artists_, genres_;
    std::optional<Order> playlists_;
};

} // namespace wheelbox
