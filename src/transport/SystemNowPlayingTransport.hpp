#pragma once

#include "model/NowPlayingState.hpp"
#include "transport/PlaybackTransport.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace wheelbox {

class Clock;
class MusicAppTransport;
class RunningApplications;
class ScriptRunner;
class StartedScript;

// The transport ("system") that follows whichever player the user listens to: Spotify, driven by
// scripts to its "Spotify" target, or the music app, whose side is the shared music transport's.
// It follows one player at a time (the preferred player) and, while that one is idle, asks the
// other at most every 2 seconds and switches to it when it plays. Spotify's fast forward and rewind
// are a scan script that runs in the background until the user lets go.
// Used on the media worker's queue only, one call at a time: no locks.
class SystemNowPlayingTransport final : public PlaybackTransport {
  public:
    enum class Player { music, spotify };

    // Script timeouts, in seconds.
    static constexpr int readTimeout = 2;
    static constexpr int volumeTimeout = 3;
    static constexpr int commandTimeout = 8;
    static constexpr int scanTimeout = 95;
    // A command first asks the players again when the last resolution is older than this.
    static constexpr std::chrono::milliseconds resolutionStaleness{1500};
    // The player not followed is asked at most this often.
    static constexpr std::chrono::seconds alternateProbeInterval{2};
    // How long a scan script gets to end before it is killed.
    static constexpr std::chrono::seconds scanStopGrace{1};

    // `music` is the media worker's own music transport, shared so both see one queue state.
    SystemNowPlayingTransport(MusicAppTransport &music, ScriptRunner &runner,
                              RunningApplications &applications, const Clock &clock);
    ~SystemNowPlayingTransport() override;
    SystemNowPlayingTransport(const SystemNowPlayingTransport &) = delete;
    SystemNowPlayingTransport &operator=(const SystemNowPlayingTransport &) = delete;

    const std::string &id() const noexcept override { return id_; }
    // The preferred player's reading, or the other player's when a due probe finds it playing (or
    // the preferred one has nothing); readings carry the source "system".
    NowPlayingState nowPlaying() noexcept override;

    // Plays one music track ("music-track:" + persistent ID), pausing Spotify first when it plays;
    // the device then follows the music app. Throws TransportError::invalidItem for other ids.
    void playItem(std::string_view itemID, bool shuffle, std::string_view repeatMode, double volume) override;
    void playPause() override;
    void pause() override;
    void skip(int direction) override;
    void seek(double position) override;
    void beginSeek(int direction) override;
    // Ends the scan of the player it was started on, whichever player is followed now. Play/pause,
    // pause, skip, seek and starting another track end a Spotify scan as well.
    void endSeek() override;
    std::optional<double> volume() noexcept override;
    void setVolume(double volume) override;
    void setShuffle(bool enabled) override;
    // Spotify has no repeat-one: "One" switches its repeat off, then throws
    // TransportError::unsupportedSetting.
    void setRepeat(std::string_view mode) override;

    // Runs `startMusic`, a start of playback in the music app, with Spotify paused first when it
    // plays (a failed pause throws before anything starts). When the start throws, Spotify plays
    // on unless the music app plays `trackID` after all, and the start's error is rethrown.
    void startMusicOverSpotify(std::string_view trackID, const std::function<void()> &startMusic);
    // The music app has just started playing for the device: follow it, as if resolved now.
    void followMusic() noexcept;

    Player preferredPlayer() const noexcept { return preferredPlayer_; }
    // "music" or "spotify".
    static std::string_view playerID(Player player) noexcept;

    // State for diagnostics and tests.
    const std::optional<NowPlayingState> &lastSpotify() const noexcept { return lastSpotify_; }
    std::optional<Player> seekPlayer() const noexcept { return seekPlayer_; }
    bool hasSpotifyScan() const noexcept { return spotifySeekProcess_ != nullptr; }

  private:
    using Uptime = std::chrono::nanoseconds;

    bool spotifyRuns() noexcept;
    // Spotify's state now: nothing when it does not run or answers with too few fields; the last
    // reading marked paused when it answers nothing.
    std::optional<NowPlayingState> readSpotify() noexcept;
    // Runs a one-line Spotify command; TransportError::playerUnavailable when Spotify does not run.
    void spotifyCommand(const std::string &script);
    // Asks the players again when the last resolution is stale; afterwards preferredPlayer_ says
    // where a command goes.
    void resolvePlayer() noexcept;
    // A command that moves playback ends a Spotify scan first: the scan would otherwise keep
    // moving the position behind it.
    void endSpotifyScanForCommand();
    // Stops the Spotify scan script, if one was started; throws ScriptError::failed(failure) when
    // it does not end.
    void stopSpotifyScan(const char *failure);

    MusicAppTransport &music_;
    ScriptRunner &runner_;
    RunningApplications &applications_;
    const Clock &clock_;

    const std::string id_ = "system";
    std::optional<NowPlayingState> lastSpotify_;
    Player preferredPlayer_ = Player::music;
    // Uptimes; nothing stands for the distant past.
    std::optional<Uptime> lastPlayerResolution_;
    std::optional<Uptime> lastAlternateProbe_;
    std::optional<Player> seekPlayer_;
    std::unique_ptr<StartedScript> spotifySeekProcess_;
};

} // namespace wheelbox
