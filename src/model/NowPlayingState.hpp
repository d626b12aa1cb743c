#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace wheelbox {

// One reading of a player. Readings are compared field by field to decide whether the firmware
// needs a fresh push, so every field that can change on screen belongs here.
struct NowPlayingState {
    std::string source;
    std::optional<std::string> persistentID;
    std::string title;
    std::string artist;
    std::optional<std::string> album;
    double elapsed = 0;
    double duration = 0;
    bool isPlaying = false;
    std::optional<std::int64_t> queuePosition;
    std::optional<std::int64_t> queueCount;
    // Whether what plays is shuffled, when the transport knows (it shuffles the queue itself).
    std::optional<bool> shuffle = std::nullopt;

    // The reading before any player has been asked: nothing plays.
    static NowPlayingState empty();

    bool operator==(const NowPlayingState &) const = default;
};

} // namespace wheelbox
