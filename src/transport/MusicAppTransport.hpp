#pragma once

#include "model/NowPlayingState.hpp"
#include "transport/LogicalQueue.hpp"
#include "transport/ManagedQueuePlaylists.hpp"
#include "transport/MusicAppScripts.hpp"
#include "transport/PlaybackTransport.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wheelbox {

class Clock;
class RandomSource;
class RunningApplications;
class ScriptRunner;
class UserDefaults;

// A collection to play in the music app from a chosen track on: the temporary playlist's tracks
// and the device's whole play order.
struct QueueStart {
    // 0…100.
    double volume = 0;
    // What goes into the temporary playlist (at most 200 tracks), and where the chosen track is.
    std::vector<std::string> window;
    std::int64_t windowIndex = 0;
    std::string chosenID;
    // "Off", "All" or "One".
    std::string repeatMode;
    // The whole play order, and the chosen track's position in it.
    std::vector<std::string> queue;
    std::int64_t queuePosition = 0;
    // The collection in its own order, and for each entry of `queue` its index there.
    std::vector<std::string> canonical;
    std::vector<std::int64_t> canonicalIndices;
    bool shuffle = false;
    // Given when the queue is rebuilt around the playing track: its position and paused state
    // carry over to the new playlist.
    std::optional<NowPlayingState> restore;
};

// The transport ("music") that drives the music app through scripts: the now-playing read, every
// control, single tracks, and collections played through a temporary playlist (the managed queue)
// that the transport follows and advances itself (the logical queue). ManagedQueuePlaylists keeps
// the temporary playlists' records.
// Used on the media worker's queue only, one call at a time: no locks.
class MusicAppTransport final : public PlaybackTransport {
  public:
    static constexpr std::string_view managedQueueNameKey = ManagedQueuePlaylists::nameKey;
    static constexpr std::string_view managedQueueIDKey = ManagedQueuePlaylists::idKey;
    static constexpr std::string_view pendingQueueNameKey = ManagedQueuePlaylists::pendingNameKey;

    // Script timeouts, in seconds.
    static constexpr int readTimeout = 2;
    static constexpr int volumeTimeout = 3;
    static constexpr int commandTimeout = 8;
    static constexpr int trackStartTimeout = 12;
    static constexpr int queueStartTimeout = 45;
    // How long a device seek counts as settling.
    static constexpr std::chrono::seconds explicitSeekLifetime{3};

    // Reads the temporary playlist's name and ID from `defaults`; a missing or foreign name is
    // replaced by a new one, which is stored.
    MusicAppTransport(ScriptRunner &runner, RunningApplications &applications, UserDefaults &defaults,
                      const Clock &clock, RandomSource &random);

    const std::string &id() const noexcept override { return id_; }
    NowPlayingState nowPlaying() noexcept override;
    // The read that keeps the logical queue moving; with QueueAdvance::suppressed it never starts
    // another track.
    NowPlayingState nowPlaying(QueueAdvance advance) noexcept;

    // Throws TransportError::invalidItem for anything but "music-track:" + persistent ID.
    void playItem(std::string_view itemID, bool shuffle, std::string_view repeatMode, double volume) override;
    void playPause() override;
    void pause() override;
    void skip(int direction) override;
    void seek(double position) override;
    void beginSeek(int direction) override;
    void endSeek() override;
    std::optional<double> volume() noexcept override;
    void setVolume(double volume) override;
    void setShuffle(bool enabled) override;
    void setRepeat(std::string_view mode) override;

    // Starts one library track and waits until it plays. With a repeat mode it also sets the volume,
    // that repeat and the app's own shuffle off. Throws TransportError::unavailableItem when the app
    // does not have or will not play the track, ScriptError otherwise.
    void playTrack(std::string_view trackID, double volume, std::optional<std::string_view> repeatMode,
                   musicScripts::PauseAfterStart pauseAfterStart);
    // True when the app is playing exactly this track. Never throws.
    bool isPlayingTrack(std::string_view trackID) noexcept;

    // Plays a collection through a new temporary playlist, then deletes the previous one. Throws
    // TransportError::invalidItem (inconsistent arguments) or ScriptError; a failed start changes
    // no queue state and leaves no new playlist behind.
    void playQueue(const QueueStart &start);

    // Whether the transport follows its logical queue (and a light poll must keep reading).
    bool usesLogicalQueue() const noexcept { return queue_.followed; }

    // State for diagnostics and tests.
    const LogicalQueue &logicalQueue() const noexcept { return queue_; }
    const NowPlayingState &lastLoaded() const noexcept { return lastLoaded_; }
    bool logicalShuffleEnabled() const noexcept { return logicalShuffleEnabled_; }
    const std::string &repeatMode() const noexcept { return repeatMode_; }
    bool isSeeking() const noexcept { return isSeeking_; }
    const std::string &managedQueuePlaylistName() const noexcept { return playlists_.currentName(); }
    const std::optional<std::string> &managedQueuePlaylistID() const noexcept
    {
        return playlists_.currentID();
    }

  private:
    // A position jump the device asked for: until it settles, reads do not take the app's position
    // for a track end or a jump of the user's.
    struct ExplicitSeek {
        std::optional<std::string> persistentID;
        double position = 0;
        std::chrono::nanoseconds expiresAt{};
    };

    bool musicRuns();
    void requireMusicRunning();

    // Queue follow-up inside the now-playing read: settles a device seek, starts the next queue
    // track when one ended, leaves the queue when the user took over. Answers the read when it ends
    // it early.
    std::optional<NowPlayingState> followQueue(const QueueReading &reading, QueueAdvance advance);
    void leaveLogicalQueue();
    void logicalSkip(int direction);
    void logicalSetShuffle(bool enabled);
    // Plays `queue` from `position` through a new temporary playlist, keeping the playing track's
    // position and paused state.
    void rebuild(const std::vector<std::string> &queue, std::size_t position,
                 const std::vector<std::int64_t> &canonicalIndices, bool shuffle,
                 std::string_view repeatMode);

    ScriptRunner &runner_;
    RunningApplications &applications_;
    const Clock &clock_;
    RandomSource &random_;
    ManagedQueuePlaylists playlists_;

    const std::string id_ = "music";
    NowPlayingState lastLoaded_ = NowPlayingState::empty();
    LogicalQueue queue_;
    bool shuffleEnabled_ = false;
    bool logicalShuffleEnabled_ = false;
    std::string repeatMode_ = "Off";
    bool isSeeking_ = false;
    bool seekWasPlaying_ = false;
    std::optional<ExplicitSeek> explicitSeek_;
    std::optional<std::string> expectedManagedTrackID_;
};

} // namespace wheelbox
