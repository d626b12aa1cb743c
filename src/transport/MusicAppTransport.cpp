#include "transport/MusicAppTransport.hpp"

#include "library/ManagedQueueName.hpp"
#include "model/PersistentID.hpp"
#include "platform/Clock.hpp"
#include "platform/RandomSource.hpp"
#include "platform/RunningApplications.hpp"
#include "platform/UserDefaults.hpp"
#include "transport/ScriptError.hpp"
#include "transport/ScriptReply.hpp"
#include "transport/ScriptRunner.hpp"
#include "transport/TransportError.hpp"

#include <algorithm>
#include <exception>

namespace wheelbox {

using musicScripts::PauseAfterStart;

MusicAppTransport::MusicAppTransport(ScriptRunner &runner, RunningApplications &applications,
                                     UserDefaults &defaults, const Clock &clock, RandomSource &random)
    : runner_(runner), applications_(applications), clock_(clock), random_(random),
      playlists_(runner, defaults, random)
{}

bool MusicAppTransport::musicRuns()
{
    return applications_.isRunning(musicAppBundleIdentifier);
}

void MusicAppTransport::requireMusicRunning()
{
    if (!musicRuns())
        throw TransportError::playerUnavailable("Music");
}

NowPlayingState MusicAppTransport::nowPlaying() noexcept
{
    return nowPlaying(QueueAdvance::allowed);
}

NowPlayingState MusicAppTransport::nowPlaying(QueueAdvance advance) noexcept
{
    if (!musicRuns()) {
        lastLoaded_.isPlaying = false;
        return lastLoaded_;
    }
    std::optional<std::string> output;
    try {
        output = runner_.run(musicScripts::nowPlaying(), readTimeout);
    } catch (const std::exception &) {
        // Nothing loaded, a cancelled poll, a player that hangs: the last reading stands.
        return lastLoaded_;
    }
    if (!output)
        return lastLoaded_;

    auto fields = scriptReply::split(*output, '\x1f');
    if (fields.size() < 7)
        return NowPlayingState::empty();
    QueueReading reading{std::string(fields[0]), scriptReply::decimal(fields[4]).value_or(0),
                         scriptReply::lowercased(fields[6])};
    double duration = scriptReply::decimal(fields[5]).value_or(0);

    if (auto answered = followQueue(reading, advance))
        return *answered;

    NowPlayingState state;
    state.source = id_;
    state.persistentID = reading.persistentID;
    state.title = fields[1];
    state.artist = fields[2];
    if (!fields[3].empty())
        state.album = std::string(fields[3]);
    state.elapsed = reading.position;
    state.duration = duration;
    state.isPlaying = reading.state == "playing";
    if (queue_.index) {
        state.queuePosition = static_cast<std::int64_t>(*queue_.index) + 1;
        state.queueCount = static_cast<std::int64_t>(queue_.ids.size());
    }
    // While the transport follows its own queue, it dealt the order and knows whether it shuffled.
    if (queue_.followed)
        state.shuffle = logicalShuffleEnabled_;
    lastLoaded_ = state;
    return state;
}

void MusicAppTransport::playPause()
{
    requireMusicRunning();
    runner_.run(musicScripts::playPause(), commandTimeout);
}

void MusicAppTransport::pause()
{
    requireMusicRunning();
    runner_.run(musicScripts::pause(), commandTimeout);
}

void MusicAppTransport::skip(int direction)
{
    if (queue_.followed && queue_.index) {
        logicalSkip(direction);
        return;
    }
    requireMusicRunning();
    runner_.run(musicScripts::skip(direction), commandTimeout);
    explicitSeek_.reset();
    if (queue_.index) {
        std::size_t index = *queue_.index;
        if (direction < 0 && index > 0)
            queue_.index = index - 1;
        else if (direction >= 0 && index + 1 < queue_.ids.size())
            queue_.index = index + 1;
    }
}

void MusicAppTransport::seek(double position)
{
    requireMusicRunning();
    double target = std::max(position, 0.0);
    runner_.run(musicScripts::seek(target), commandTimeout);
    explicitSeek_ = ExplicitSeek{lastLoaded_.persistentID, target, clock_.uptime() + explicitSeekLifetime};
}

void MusicAppTransport::beginSeek(int direction)
{
    requireMusicRunning();
    seekWasPlaying_ = lastLoaded_.isPlaying;
    isSeeking_ = true;
    auto output = runner_.run(musicScripts::beginSeek(direction), commandTimeout);
    seekWasPlaying_ = output && scriptReply::lowercased(*output) == "true";
}

void MusicAppTransport::endSeek()
{
    if (!isSeeking_)
        return;
    if (!musicRuns()) {
        isSeeking_ = false;
        seekWasPlaying_ = false;
        return;
    }
    runner_.run(
        musicScripts::endSeek(seekWasPlaying_ ? musicScripts::WasPlaying::yes : musicScripts::WasPlaying::no),
        commandTimeout);
    isSeeking_ = false;
    seekWasPlaying_ = false;
}

std::optional<double> MusicAppTransport::volume() noexcept
{
    if (!musicRuns())
        return std::nullopt;
    try {
        auto output = runner_.run(musicScripts::volume(), volumeTimeout);
        if (!output)
            return std::nullopt;
        return scriptReply::decimal(*output);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

void MusicAppTransport::setVolume(double volume)
{
    requireMusicRunning();
    runner_.run(musicScripts::setVolume(volume), commandTimeout);
}

void MusicAppTransport::setShuffle(bool enabled)
{
    requireMusicRunning();
    if (queue_.followed && queue_.indexIsInside() && *queue_.index < queue_.canonicalIndices.size() &&
        !queue_.canonicalIDs.empty()) {
        logicalSetShuffle(enabled);
        return;
    }
    runner_.run(musicScripts::setShuffle(enabled), commandTimeout);
    shuffleEnabled_ = enabled;
    logicalShuffleEnabled_ = enabled;
}

void MusicAppTransport::setRepeat(std::string_view mode)
{
    requireMusicRunning();
    if (mode == repeatMode_)
        return;
    if (queue_.followed && queue_.indexIsInside()) {
        if (queue_.canonicalIndices.size() != queue_.ids.size())
            throw TransportError::invalidItem("managed queue");
        rebuild(queue_.ids, *queue_.index, queue_.canonicalIndices, logicalShuffleEnabled_, mode);
        return;
    }
    runner_.run(musicScripts::setRepeat(mode), commandTimeout);
    repeatMode_ = mode;
}

void MusicAppTransport::playTrack(std::string_view trackID, double volume,
                                  std::optional<std::string_view> repeatMode, PauseAfterStart pauseAfterStart)
{
    std::optional<musicScripts::PlaybackSettings> settings;
    if (repeatMode)
        settings = musicScripts::PlaybackSettings{volume, *repeatMode};
    try {
        runner_.run(musicScripts::playTrack(trackID, settings, pauseAfterStart), trackStartTimeout);
    } catch (const ScriptError &error) {
        std::string_view details = error.what();
        if (details.find("Song is not in the Music library.") != std::string_view::npos ||
            details.find("Music can't play this song.") != std::string_view::npos)
            throw TransportError::unavailableItem(std::string(trackID));
        throw;
    }
}

void MusicAppTransport::playItem(std::string_view itemID, bool shuffle, std::string_view repeatMode,
                                 double volume)
{
    if (!itemID.starts_with(trackIDPrefix))
        throw TransportError::invalidItem(std::string(itemID));
    std::string trackID(itemID.substr(trackIDPrefix.size()));
    playTrack(trackID, volume, repeatMode, PauseAfterStart::no);
    queue_ = LogicalQueue{};
    queue_.ids = {trackID};
    queue_.canonicalIDs = {trackID};
    queue_.canonicalIndices = {0};
    queue_.index = 0;
    explicitSeek_.reset();
    expectedManagedTrackID_.reset();
    shuffleEnabled_ = false;
    logicalShuffleEnabled_ = shuffle;
    repeatMode_ = repeatMode;
}

bool MusicAppTransport::isPlayingTrack(std::string_view trackID) noexcept
{
    if (!musicRuns())
        return false;
    try {
        auto output = runner_.run(musicScripts::isPlayingTrack(trackID), readTimeout);
        return output && scriptReply::lowercased(*output) == "true";
    } catch (const std::exception &) {
        return false;
    }
}

} // namespace wheelbox
