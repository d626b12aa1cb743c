#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace wheelbox::osascript {

// One track as an MPRIS player describes it.
struct MprisTrack {
    std::string trackID;
    bool trackIDIsObjectPath = false;
    std::string url;
    std::string title;
    std::string artist;
    std::string album;
    std::int64_t lengthMicroseconds = 0;
    // What the position estimate knows the track by.
    std::string key() const { return url.empty() ? trackID : url; }
};

// The player's properties as one reading; nothing where the player does not report one.
struct MprisPlayerState {
    std::optional<std::string> playbackStatus;
    std::optional<std::string> loopStatus;
    std::optional<double> volume;
    std::optional<bool> shuffle;
    std::int64_t positionMicroseconds = 0;
    std::optional<MprisTrack> track;
};

// An MPRIS player on the session bus. Failures are ApplicationErrors in the player's words.
class MprisPlayer {
  public:
    virtual ~MprisPlayer() = default;

    virtual MprisPlayerState read(std::chrono::milliseconds timeout) = 0;
    // "PlayPause", "Pause", "Play", "Next" or "Previous".
    virtual void call(const char *method, std::chrono::milliseconds timeout) = 0;
    virtual void setPosition(const std::string &trackPath, std::int64_t microseconds,
                             std::chrono::milliseconds timeout) = 0;
    virtual void seek(std::int64_t offsetMicroseconds, std::chrono::milliseconds timeout) = 0;
    virtual void setVolume(double volume, std::chrono::milliseconds timeout) = 0;
    virtual void setShuffle(bool shuffle, std::chrono::milliseconds timeout) = 0;
    virtual void setLoopStatus(const char *status, std::chrono::milliseconds timeout) = 0;
};

} // namespace wheelbox::osascript
