#pragma once

#include "model/NowPlayingState.hpp"

#include <ostream>

namespace wheelbox {

// Readings as tests show them when they differ.
inline void PrintTo(const NowPlayingState &state, std::ostream *out)
{
    auto optional = [&](const auto &value) {
        if (value)
            *out << *value;
        else
            *out << "none";
    };
    *out << "{source " << state.source << ", id ";
    optional(state.persistentID);
    *out << ", \"" << state.title << "\" by \"" << state.artist << "\" on ";
    optional(state.album);
    *out << ", " << state.elapsed << "/" << state.duration << " s, "
         << (state.isPlaying ? "playing" : "not playing") << ", queue ";
    optional(state.queuePosition);
    *out << " of ";
    optional(state.queueCount);
    *out << "}";
}

} // namespace wheelbox
