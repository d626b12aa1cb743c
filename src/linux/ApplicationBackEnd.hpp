#pragma once

#include "lib/mpd/MpdConnection.hpp"
#include "linux/MpdServerStatus.hpp"
#include "worker/MediaBackend.hpp"

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace wheelbox {

class ArtworkSource;
class MpdAlbumLocations;
class UserDefaults;

// What the application's back end is made from: the shared user defaults and the MPD the program
// chose at start (MPD_HOST already names it for the script tool).
struct ApplicationBackEndParts {
    UserDefaults &defaults;
    mpd::MpdAddress mpdAddress;
    // Whether the program's own MPD is there, and why not (not installed, failed to start,
    // stopped and starting again): library reads then fail with that reason. Null for an MPD of
    // the user's.
    std::shared_ptr<const MpdServerStatus> mpdStatus;
    // Set when the program quits, so a library read waiting for MPD's first scan ends at once.
    std::shared_ptr<const std::atomic<bool>> quitting;
    // The music folder, when the MPD is the program's own: an empty library then says to fill it.
    std::optional<std::filesystem::path> ownMusicFolder = std::nullopt;
    // Covers, and where each library read records how to find an album's; none without.
    ArtworkSource *artwork = nullptr;
    std::shared_ptr<MpdAlbumLocations> albumLocations = nullptr;
};

// The back end behind the device's bridge: the Linux media worker over that MPD, with the library
// gate in front of its database, so the device says why there is no music instead of showing none.
// Build it on the main thread. Throws std::exception when a part cannot be made.
std::unique_ptr<MediaBackend> makeApplicationBackEnd(ApplicationBackEndParts parts);

} // namespace wheelbox
