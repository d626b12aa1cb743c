#pragma once

#include "platform/LibrarySource.hpp"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace wheelbox {

// For each album of the library last read from MPD, one of its songs: where an album row's cover
// is looked for. Filled by MpdLibrarySource as it reads the library (it sees every song's name
// then), read by the covers' reader. One name per album, in one block of text. Thread-safe.
class MpdAlbumLocations {
  public:
    // The library just read: songs and their URIs, in the same order.
    void replace(const std::vector<LibrarySong> &songs, const std::vector<std::string> &uris);

    // The URI of a song of the album; nothing for an album the last read did not have.
    std::optional<std::string> songOf(std::uint64_t albumID) const;

  private:
    struct Entry {
        std::uint64_t album;
        std::size_t start; // of its URI in text_
        std::size_t length;
    };

    mutable std::mutex lock_;
    std::vector<Entry> entries_; // sorted by album
    std::string text_;
};

} // namespace wheelbox
