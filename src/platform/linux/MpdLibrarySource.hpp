#pragma once

#include "lib/mpd/MpdConnection.hpp"
#include "platform/LibrarySource.hpp"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string_view>

namespace wheelbox {

struct MpdLibraryReadOptions {
    // How long to wait for each reply. Whole seconds: libmpdclient reads the rest as microseconds.
    std::chrono::milliseconds timeout{10'000};
    // Songs per `find … window` request. Pages keep every reply far below MPD's output buffer
    // limit, so a library of any size reads from an MPD with the default configuration.
    std::size_t pageSize = 4096;
};

// The library as MPD's database holds it: every song, and every stored playlist with the songs
// of it that are in the database. Song, album and playlist identifiers come from
// lib/mpd/MpdIdentity.hpp, so they match what the script stand-in reports. Used from one thread
// at a time; each open() uses a connection of its own.
class MpdLibrarySource final : public LibrarySource {
  public:
    // Reads from the MPD every client finds (MPD_HOST / MPD_PORT, the user's socket, localhost),
    // looked up again on every open().
    MpdLibrarySource() = default;
    explicit MpdLibrarySource(mpd::MpdAddress address, MpdLibraryReadOptions options = {});

    // Throws LibrarySourceError, with a text that says what failed, when MPD cannot be reached or
    // refuses a command. Never returns a partly read library.
    LibraryContents open() override;

  private:
    std::optional<mpd::MpdAddress> address_;
    MpdLibraryReadOptions options_;
};

// The number a track or disc tag starts with: "3", "03" and "3/12" are 3; a tag that does not
// start with a number is 0.
int parseTagNumber(std::string_view tag) noexcept;

} // namespace wheelbox
