#pragma once

#include "model/NowPlayingState.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace wheelbox {

// What plays music for the device: the music app's transport ("music") or the one that follows
// whichever player plays ("system"). The media worker sends every playback command to the active
// one; the bridge's poll reads the state through it. Failures are thrown as TransportError or the
// script runner's ScriptError, whose what() is the text the device shows.
// Not synchronised: callers make one call at a time, on the media worker's queue. Any call may block
// for the script runs it makes.
class PlaybackTransport {
  public:
    virtual ~PlaybackTransport() = default;

    // "music" or "system"; also the source of every reading the transport makes.
    virtual const std::string &id() const noexcept = 0;

    // The player's state now; the last known state (or the empty state) when it cannot be asked.
    virtual NowPlayingState nowPlaying() noexcept = 0;

    // Plays one library song, named "music-track:" + its persistent ID, on its own.
    virtual void playItem(std::string_view itemID, bool shuffle, std::string_view repeatMode,
                          double volume) = 0;

    virtual void playPause() = 0;
    virtual void pause() = 0;
    // Negative: previous track; zero or positive: next track.
    virtual void skip(int direction) = 0;
    // Seconds from the start of the track.
    virtual void seek(double position) = 0;
    // Starts a scan: negative rewinds, zero or positive fast-forwards. endSeek() ends it.
    virtual void beginSeek(int direction) = 0;
    virtual void endSeek() = 0;

    // 0…100, or nothing when the player does not run or does not answer.
    virtual std::optional<double> volume() noexcept = 0;
    // Clamped to 0…100.
    virtual void setVolume(double volume) = 0;
    virtual void setShuffle(bool enabled) = 0;
    // "Off", "All" or "One".
    virtual void setRepeat(std::string_view mode) = 0;
};

} // namespace wheelbox
