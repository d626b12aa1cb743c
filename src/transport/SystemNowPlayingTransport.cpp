#include "transport/SystemNowPlayingTransport.hpp"

#include "model/PersistentID.hpp"
#include "platform/Clock.hpp"
#include "platform/RunningApplications.hpp"
#include "transport/MusicAppTransport.hpp"
#include "transport/ScriptError.hpp"
#include "transport/ScriptReply.hpp"
#include "transport/ScriptRunner.hpp"
#include "transport/SpotifyScripts.hpp"
#include "transport/TransportError.hpp"

#include <algorithm>
#include <exception>

namespace wheelbox {
namespace {

NowPlayingState relabelled(NowPlayingState state)
{
    state.source = "system";
    return state;
}

} // namespace

SystemNowPlayingTransport::SystemNowPlayingTransport(MusicAppTransport &music, ScriptRunner &runner,
                                                     RunningApplications &applications, const Clock &clock)
    : music_(music), runner_(runner), applications_(applications), clock_(clock)
{}

SystemNowPlayingTransport::~SystemNowPlayingTransport()
{
    // A scan left running would keep moving Spotify on for up to a minute and a half.
    if (spotifySeekProcess_) {
        try {
            spotifySeekProcess_->stop(scanStopGrace);
        } catch (const std::exception &) {
        }
    }
}

std::string_view SystemNowPlayingTransport::playerID(Player player) noexcept
{
    return player == Player::spotify ? "spotify" : "music";
}

bool SystemNowPlayingTransport::spotifyRuns() noexcept
{
    try {
        return applications_.isRunning(spotifyBundleIdentifier);
    } catch (const std::exception &) {
        return false;
    }
}

std::optional<NowPlayingState> SystemNowPlayingTransport::readSpotify() noexcept
{
    if (!spotifyRuns())
        return std::nullopt;
    std::optional<std::string> output;
    try {
        output = runner_.run(spotifyScripts::nowPlaying(), readTimeout);
    } catch (const std::exception &) {
        output.reset();
    }
    if (!output || output->empty()) {
        // No track, a player that hangs, a cancelled poll: the last reading stands, paused.
        if (lastSpotify_)
            lastSpotify_->isPlaying = false;
        return lastSpotify_;
    }
    auto reading = spotifyScripts::parseNowPlaying(*output);
    if (reading)
        lastSpotify_ = reading;
    return reading;
}

void SystemNowPlayingTransport::spotifyCommand(const std::string &script)
{
    if (!spotifyRuns())
        throw TransportError::playerUnavailable("Spotify");
    runner_.run(script, commandTimeout);
}

NowPlayingState SystemNowPlayingTransport::nowPlaying() noexcept
{
    const Uptime now = clock_.uptime();
    lastPlayerResolution_ = now;
    const bool probeDue = !lastAlternateProbe_ || now - *lastAlternateProbe_ >= alternateProbeInterval;
    const NowPlayingState empty = NowPlayingState::empty();

    if (preferredPlayer_ == Player::spotify) {
        auto spotify = readSpotify();
        if (spotify && spotify->isPlaying)
            return *spotify;
        if (!probeDue)
            return spotify.value_or(empty);
        lastAlternateProbe_ = now;
        auto music = music_.nowPlaying();
        if (music.isPlaying) {
            preferredPlayer_ = Player::music;
            return relabelled(std::move(music));
        }
        if (spotify)
            return *spotify;
        if (music != empty) {
            preferredPlayer_ = Player::music;
            return relabelled(std::move(music));
        }
        return empty;
    }

    auto music = music_.nowPlaying();
    if (music.isPlaying)
        return relabelled(std::move(music));
    if (!probeDue) {
        if (music != empty)
            return relabelled(std::move(music));
        return lastSpotify_.value_or(empty);
    }
    lastAlternateProbe_ = now;
    auto spotify = readSpotify();
    if (spotify && spotify->isPlaying) {
        preferredPlayer_ = Player::spotify;
        return *spotify;
    }
    if (music == empty) {
        if (!spotify)
            return empty;
        preferredPlayer_ = Player::spotify;
        return *spotify;
    }
    return relabelled(std::move(music));
}

void SystemNowPlayingTransport::resolvePlayer() noexcept
{
    if (!lastPlayerResolution_ || clock_.uptime() - *lastPlayerResolution_ > resolutionStaleness)
        nowPlaying();
}

void SystemNowPlayingTransport::stopSpotifyScan(const char *failure)
{
    if (!spotifySeekProcess_)
        return;
    if (!spotifySeekProcess_->stop(scanStopGrace))
        throw ScriptError::failed(failure);
    spotifySeekProcess_.reset();
    if (seekPlayer_ == Player::spotify)
        seekPlayer_.reset();
}

void SystemNowPlayingTransport::endSpotifyScanForCommand()
{
    stopSpotifyScan("Couldn’t stop Spotify’s scan.");
}

void SystemNowPlayingTransport::startMusicOverSpotify(std::string_view trackID,
                                                      const std::function<void()> &startMusic)
{
    endSpotifyScanForCommand();
    bool pausedSpotify = false;
    if (auto spotify = readSpotify(); spotify && spotify->isPlaying) {
        spotifyCommand(spotifyScripts::pause());
        pausedSpotify = true;
    }
    try {
        startMusic();
    } catch (...) {
        if (pausedSpotify && !music_.isPlayingTrack(trackID)) {
            try {
                spotifyCommand(spotifyScripts::play());
            } catch (const std::exception &) {
                // The start's own error is the one worth telling.
            }
        }
        throw;
    }
}

void SystemNowPlayingTransport::followMusic() noexcept
{
    preferredPlayer_ = Player::music;
    lastPlayerResolution_ = clock_.uptime();
}

void SystemNowPlayingTransport::playItem(std::string_view itemID, bool shuffle, std::string_view repeatMode,
                                         double volume)
{
    if (!itemID.starts_with(trackIDPrefix))
        throw TransportError::invalidItem(std::string(itemID));
    startMusicOverSpotify(itemID.substr(trackIDPrefix.size()),
                          [&] { music_.playItem(itemID, shuffle, repeatMode, volume); });
    followMusic();
}

void SystemNowPlayingTransport::playPause()
{
    endSpotifyScanForCommand();
    resolvePlayer();
    if (preferredPlayer_ == Player::spotify)
        spotifyCommand(spotifyScripts::playPause());
    else
        music_.playPause();
}

void SystemNowPlayingTransport::pause()
{
    endSpotifyScanForCommand();
    resolvePlayer();
    if (preferredPlayer_ == Player::spotify)
        spotifyCommand(spotifyScripts::pause());
    else
        music_.pause();
}

void SystemNowPlayingTransport::skip(int direction)
{
    endSpotifyScanForCommand();
    resolvePlayer();
    if (preferredPlayer_ == Player::spotify)
        spotifyCommand(spotifyScripts::skip(direction));
    else
        music_.skip(direction);
}

void SystemNowPlayingTransport::seek(double position)
{
    endSpotifyScanForCommand();
    resolvePlayer();
    if (preferredPlayer_ == Player::spotify)
        spotifyCommand(spotifyScripts::setPosition(position));
    else
        music_.seek(position);
}

void SystemNowPlayingTransport::beginSeek(int direction)
{
    resolvePlayer();
    if (preferredPlayer_ == Player::music) {
        stopSpotifyScan("Couldn’t stop Spotify’s previous scan.");
        try {
            music_.beginSeek(direction);
        } catch (...) {
            // A scan script that failed after the app began to scan (a timeout, a cancellation)
            // still leaves the music transport counting a scan: endSeek must reach it, or the app
            // would scan on after the user let go.
            if (music_.isSeeking())
                seekPlayer_ = Player::music;
            throw;
        }
        seekPlayer_ = Player::music;
        return;
    }
    auto spotify = readSpotify();
    if (!spotify)
        throw TransportError::playerUnavailable("Spotify");
    stopSpotifyScan("Couldn’t stop Spotify’s previous scan.");
    // A music scan begun before the device moved over to Spotify would run on unseen.
    if (seekPlayer_ == Player::music) {
        music_.endSeek();
        seekPlayer_.reset();
    }
    spotifySeekProcess_ =
        runner_.start(spotifyScripts::scan(spotify->persistentID.value_or(""), direction), scanTimeout);
    seekPlayer_ = Player::spotify;
}

void SystemNowPlayingTransport::endSeek()
{
    if (!seekPlayer_)
        return;
    if (*seekPlayer_ == Player::music)
        music_.endSeek();
    else
        stopSpotifyScan("Couldn’t stop Spotify’s scan.");
    seekPlayer_.reset();
}

std::optional<double> SystemNowPlayingTransport::volume() noexcept
{
    resolvePlayer();
    if (preferredPlayer_ == Player::music)
        return music_.volume();
    try {
        auto output = runner_.run(spotifyScripts::volume(), volumeTimeout);
        if (!output)
            return std::nullopt;
        return scriptReply::decimal(*output);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

void SystemNowPlayingTransport::setVolume(double volume)
{
    const double clamped = std::clamp(volume, 0.0, 100.0);
    resolvePlayer();
    if (preferredPlayer_ == Player::spotify)
        spotifyCommand(spotifyScripts::setVolume(clamped));
    else
        music_.setVolume(clamped);
}

void SystemNowPlayingTransport::setShuffle(bool enabled)
{
    resolvePlayer();
    if (preferredPlayer_ == Player::spotify)
        spotifyCommand(spotifyScripts::setShuffling(enabled));
    else
        music_.setShuffle(enabled);
}

void SystemNowPlayingTransport::setRepeat(std::string_view mode)
{
    resolvePlayer();
    if (preferredPlayer_ == Player::music) {
        music_.setRepeat(mode);
        return;
    }
    if (mode == "Off" || mode == "All") {
        spotifyCommand(spotifyScripts::setRepeating(mode == "All"));
        return;
    }
    spotifyCommand(spotifyScripts::repeatOff());
    throw TransportError::unsupportedSetting("Spotify automation does not support Repeat One.");
}

} // namespace wheelbox
