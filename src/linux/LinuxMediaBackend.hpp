#pragma once

#include "lib/mpd/MpdConnection.hpp"
#include "worker/MediaBackend.hpp"
#include "worker/MediaWorker.hpp"

#include <memory>
#include <optional>
#include <string>

namespace wheelbox {

class ArtworkSource;
class UserDefaults;

// What the Linux back end is built from; only the defaults must be given. Everything else it needs
// it makes and owns.
struct LinuxMediaBackendSettings {
    // Where the worker keeps the user's transport, the device serial and the temporary playlists'
    // records. The caller owns it, because the bridge and the window use the same store; it must
    // outlive the back end.
    UserDefaults &defaults;
    // The MPD that stands in for the music app: its running check, and its database as the
    // library unless makeLibrarySource says otherwise. Absent: the one every client finds
    // (MPD_HOST / MPD_PORT, the user's socket, localhost), looked up on every use. The script tool
    // finds MPD through its own environment, so a caller that names an MPD here also sets MPD_HOST
    // for the tool (setAutomationToolVariable).
    std::optional<mpd::MpdAddress> mpdAddress = std::nullopt;
    // Where the library is read from, on the first request that needs it. Absent: MPD's database
    // at mpdAddress.
    LibrarySourceFactory makeLibrarySource = {};
    // The session bus Spotify's MPRIS player lives on. Absent: the user's session bus.
    std::optional<std::string> busAddress = std::nullopt;
    // Spotify's MPRIS name. Absent: the name the script tool talks to, WHEELBOX_SPOTIFY_BUS_NAME in
    // the tool's environment (a test's stub player), else "org.mpris.MediaPlayer2.spotify".
    std::optional<std::string> spotifyBusName = std::nullopt;
    // Where covers come from; none without. The caller owns it; it must outlive the back end.
    ArtworkSource *artwork = nullptr;
};

// The whole back end of the bridge on Linux: the media worker, driving the players through the
// platform's script tool (wheelbox-osascript), asking whether MPD and Spotify run, reading the host
// facts, the system random source and clock, and the library on first use. Build it on the main
// thread, before the bridge that owns it; like every back end it then runs on the media queue
// only. Throws std::exception when a part cannot be made.
std::unique_ptr<MediaBackend> makeLinuxMediaBackend(LinuxMediaBackendSettings settings);

} // namespace wheelbox
