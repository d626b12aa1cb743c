#pragma once

#include "lib/mpd/MpdConnection.hpp"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Pictures MPD hands out in chunks: "albumart" (a cover.* file in the song's folder) and
// "readpicture" (the picture embedded in the song's file).
namespace wheelbox::mpd {

enum class PictureCommand { albumart, readpicture };

struct PictureLimits {
    // A picture larger than this is not read (MPD has been seen to report sizes of gigabytes).
    std::size_t largest = 32 * 1024 * 1024;
    // No chunk is larger than MPD's output buffer (8 MiB unless configured otherwise); a reply
    // claiming more is broken.
    std::size_t largestChunk = 8 * 1024 * 1024;
    // The whole read, every chunk, ends by then; each reply also waits no longer than the
    // connection's timeout.
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

// The chunk size MPD sends until "binarylimit" says otherwise.
inline constexpr std::size_t defaultBinaryLimit = 8192;

// Asks for chunks of `bytes` when the server takes "binarylimit" (MPD 0.22.4 and later) and
// agrees; returns the chunk size in force afterwards. An older server, or one that refuses (its
// output buffer is smaller), keeps its default. Throws MpdError when the connection fails.
std::size_t raiseBinaryLimit(MpdConnection &connection, std::size_t bytes);

// The picture for the song `uri` (its bytes as MPD stores them), read chunk by chunk; nothing
// when MPD has none: no such file, no picture in it, a server without the command, or one larger
// than the limit. Throws MpdError when the connection breaks, a reply does not come in time or
// the deadline passes; the connection is then unusable. `uri` goes through mpd::argument().
std::optional<std::vector<std::byte>> readPicture(MpdConnection &connection, PictureCommand command,
                                                  const std::string &uri, const PictureLimits &limits = {});

} // namespace wheelbox::mpd
