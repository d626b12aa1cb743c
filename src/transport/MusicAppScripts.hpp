#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The scripts the music transport sends to the music app, with the values spliced in: text
// escaped for a string literal, numbers in their shortest real form (42.0). Each function returns
// one complete program for ScriptRunner::run.
namespace wheelbox::musicScripts {

enum class PauseAfterStart { no, yes };
enum class WasPlaying { no, yes };

// The state the queue start restores after the new playlist has started: the position, and
// whether to pause again.
struct RestoredPlayback {
    double elapsed = 0;
    bool isPlaying = false;
};

// The reply joins its seven fields with ASCII 31: persistent ID, name, artist, album, position,
// duration, and the state "playing", "paused" or "stopped".
std::string nowPlaying();
std::string playPause();
std::string pause();
// Negative: previous track; otherwise next track.
std::string skip(int direction);
std::string seek(double position);
// Negative: rewind; otherwise fast forward. Replies whether the app was playing.
std::string beginSeek(int direction);
std::string endSeek(WasPlaying wasPlaying);
std::string volume();
std::string setVolume(double volume);
std::string setShuffle(bool enabled);
std::string setRepeat(std::string_view mode);

// The app's word for a repeat mode: "one" for "One", "all" for "All", "off" for anything else.
std::string_view repeatWord(std::string_view mode);

// What the track and queue starts set before playing: the volume (clamped to 0…100), the song
// repeat, and always the app's own shuffle off, since the transport shuffles by itself.
struct PlaybackSettings {
    double volume = 0;
    std::string_view repeatMode;
};
std::string settingsBlock(const PlaybackSettings &settings);

// Starts one library track and waits up to about 10 s until it plays. Without settings the app's
// volume, shuffle and repeat are left alone.
std::string playTrack(std::string_view trackID, const std::optional<PlaybackSettings> &settings,
                      PauseAfterStart pauseAfterStart);
std::string isPlayingTrack(std::string_view trackID);

// Builds the temporary playlist `name` from `trackIDs` (the chosen track first), plays it from the
// chosen track, or that track alone when it could not be copied, and replies with five fields
// joined by ASCII 30: playlist ID, name, "queue" or "direct", the chosen track's 1-based position
// among the copied tracks (0 when not copied), and the copied IDs joined by ASCII 31.
std::string startQueue(std::string_view name, std::string_view startID,
                       const std::vector<std::string> &trackIDs, const PlaybackSettings &settings,
                       const std::optional<RestoredPlayback> &restore);
std::string deletePlaylistsNamed(std::string_view name);
std::string deletePendingPlaylistsNamed(std::string_view name);
std::string deletePlaylistsWithID(std::string_view persistentID);

} // namespace wheelbox::musicScripts
