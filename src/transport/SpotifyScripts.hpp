#pragma once

#include "model/NowPlayingState.hpp"

#include <optional>
#include <string>
#include <string_view>

// The scripts the system transport sends to Spotify, with the values spliced in (text escaped for
// a string literal, numbers in their shortest real form), and the reading of the now-playing reply.
namespace wheelbox::spotifyScripts {

// The reply joins seven fields with ASCII 31: the track's Spotify URL, name, artist, album,
// position (s), duration (s), and "playing" or "paused".
std::string nowPlaying();
std::string playPause();
std::string pause();
std::string play();
// Negative: previous track; otherwise next track.
std::string skip(int direction);
// Sent as given: Spotify clamps the position itself.
std::string setPosition(double seconds);
std::string setVolume(double volume);
std::string setShuffling(bool enabled);
std::string setRepeating(bool enabled);
// Repeat switched off before reporting a mode Spotify cannot take.
std::string repeatOff();
std::string volume();

// Moves the player position in growing steps (1.25 s, 2.5 s after 10 ticks, 5 s after 25), one
// tick every 0.2 s, until the track changes, the player stops, an end of the track is reached or
// 450 ticks have passed. Negative direction: backwards.
std::string scan(std::string_view startingURI, int direction);

// The now-playing reply as a reading with source "system"; nothing when it has fewer than seven
// fields. Fields past the seventh are ignored; a position or duration that is not wholly a number
// (C locale) reads as 0.
std::optional<NowPlayingState> parseNowPlaying(std::string_view reply);

} // namespace wheelbox::spotifyScripts
