#pragma once

#include <gio/gio.h>

#include <chrono>
#include <optional>
#include <string>

namespace wheelbox {

// What an MPRIS player says of its current track's cover.
struct MprisTrackArtwork {
    std::string url;         // xesam:url, the track the reading names
    std::string artUrl;      // mpris:artUrl; empty when the player gives none
    std::string album;       // xesam:album
    std::string albumArtist; // the first xesam:albumArtist, else the first xesam:artist
};

// Reads the player's Metadata property on `bus` within `timeout`. Nothing when the player does
// not answer or answers with another type.
std::optional<MprisTrackArtwork> readMprisArtwork(GDBusConnection *bus, const std::string &busName,
                                                  std::chrono::milliseconds timeout, GCancellable *cancel);

} // namespace wheelbox
