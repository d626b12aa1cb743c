// The logical queue: every now-playing read follows the music app through the device's play order,
// starts the next queue track when the app stops at the end of one, and lets go when the user
// takes over in the app.
#include "transport/MusicAppTransport.hpp"

#include "platform/Clock.hpp"
#include "platform/RandomSource.hpp"
#include "transport/ScriptError.hpp"
#include "transport/ScriptRunner.hpp"
#include "transport/TransportError.hpp"

#include <cmath>
#include <exception>
#include <utility>

namespace wheelbox {
namespace {

// A device seek has arrived once the app's position is this close to it.
constexpr double seekArrivalSeconds = 4.0;
// The temporary playlist holds at most this many tracks.
constexpr std::size_t managedQueueWindowLimit = 200;

} // namespace

std::optional<NowPlayingState> MusicAppTransport::followQueue(const QueueReading &reading,
                                                              QueueAdvance advance)
{
    bool expectedTrack = expectedManagedTrackID_ == reading.persistentID;
    expectedManagedTrackID_.reset();

    if (explicitSeek_ &&
        (clock_.uptime() > explicitSeek_->expiresAt ||
         (explicitSeek_->persistentID && *explicitSeek_->persistentID != reading.persistentID)))
        explicitSeek_.reset();
    bool seekAffected = explicitSeek_.has_value();
    if (explicitSeek_ && std::abs(reading.position - explicitSeek_->position) <= seekArrivalSeconds)
        explicitSeek_.reset();

    auto decision = decideQueueFollowUp({.previous = lastLoaded_,
                                         .reading = reading,
                                         .queue = queue_,
                                         .advance = advance,
                                         .appShuffles = shuffleEnabled_,
                                         .repeatMode = repeatMode_,
                                         .expectedTrack = expectedTrack,
                                         .seekAffected = seekAffected});
    if (decision.leave)
        leaveLogicalQueue();

    if (decision.advanceFrom) {
        if (auto target = queue_.nextAvailableIndex(*decision.advanceFrom, repeatMode_)) {
            const std::string trackID = queue_.ids[*target];
            if (trackID == reading.persistentID && reading.state != "stopped") {
                // The app moved on by itself.
                queue_.index = target;
                return std::nullopt;
            }
            try {
                playTrack(trackID, 0, std::nullopt, musicScripts::PauseAfterStart::no);
            } catch (const TransportError &error) {
                if (error.kind() == TransportError::Kind::unavailableItem)
                    queue_.unavailable.insert(*target);
                return lastLoaded_;
            } catch (const std::exception &) {
                return lastLoaded_;
            }
            queue_.unavailable.erase(*target);
            queue_.index = target;
            expectedManagedTrackID_ = trackID;
            return nowPlaying(QueueAdvance::suppressed);
        }
    }

    queue_.index = followedQueueIndex(queue_, reading.persistentID);
    return std::nullopt;
}

void MusicAppTransport::leaveLogicalQueue()
{
    queue_ = LogicalQueue{};
    explicitSeek_.reset();
    expectedManagedTrackID_.reset();
}

void MusicAppTransport::logicalSkip(int direction)
{
    const std::size_t count = queue_.ids.size();
    if (count == 0)
        return;
    const bool backwards = direction < 0;
    auto position = static_cast<std::int64_t>(*queue_.index);
    std::optional<TransportError> refused;
    for (std::size_t attempts = 0; attempts < count;) {
        position += backwards ? -1 : 1;
        if (position < 0 || static_cast<std::size_t>(position) >= count) {
            if (repeatMode_ != "All")
                return;
            position = backwards ? static_cast<std::int64_t>(count) - 1 : 0;
        }
        ++attempts;
        auto index = static_cast<std::size_t>(position);
        if (queue_.unavailable.contains(index))
            continue;
        const std::string trackID = queue_.ids[index];
        try {
            playTrack(trackID, 0, std::nullopt,
                      lastLoaded_.isPlaying ? musicScripts::PauseAfterStart::no
                                            : musicScripts::PauseAfterStart::yes);
        } catch (const TransportError &error) {
            if (error.kind() != TransportError::Kind::unavailableItem)
                throw;
            queue_.unavailable.insert(index);
            refused = error;
            continue;
        }
        queue_.unavailable.erase(index);
        queue_.index = index;
        expectedManagedTrackID_ = trackID;
        explicitSeek_.reset();
        return;
    }
    if (refused)
        throw *refused;
}

void MusicAppTransport::logicalSetShuffle(bool enabled)
{
    if (enabled == logicalShuffleEnabled_) {
        runner_.run(musicScripts::setShuffle(false), commandTimeout);
        return;
    }
    const std::size_t index = *queue_.index;
    const std::int64_t canonicalIndex = queue_.canonicalIndices[index];
    std::vector<std::string> queue;
    std::vector<std::int64_t> indices;
    std::int64_t position = 0;
    if (!enabled) {
        queue = queue_.canonicalIDs;
        for (std::size_t i = 0; i < queue.size(); ++i)
            indices.push_back(static_cast<std::int64_t>(i));
        position = canonicalIndex;
    } else {
        std::vector<std::pair<std::string, std::int64_t>> rest;
        for (std::size_t i = 0; i < queue_.canonicalIDs.size(); ++i) {
            if (static_cast<std::int64_t>(i) != canonicalIndex)
                rest.emplace_back(queue_.canonicalIDs[i], static_cast<std::int64_t>(i));
        }
        // Fisher-Yates, drawing from the injected source so a test can replay the order.
        for (std::size_t i = rest.size(); i > 1; --i)
            std::swap(rest[i - 1], rest[random_.below(i)]);
        queue.push_back(queue_.ids[index]);
        indices.push_back(canonicalIndex);
        for (auto &[id, original] : rest) {
            queue.push_back(std::move(id));
            indices.push_back(original);
        }
    }
    if (position < 0 || static_cast<std::size_t>(position) >= queue.size() || indices.size() != queue.size())
        throw TransportError::invalidItem("managed queue");
    rebuild(queue, static_cast<std::size_t>(position), indices, enabled, repeatMode_);
}

void MusicAppTransport::rebuild(const std::vector<std::string> &queue, std::size_t position,
                                const std::vector<std::int64_t> &canonicalIndices, bool shuffle,
                                std::string_view repeatMode)
{
    // Copies: the queue start replaces the fields these may refer to.
    const std::string current = queue[position];
    const std::vector<std::string> newQueue = queue;
    const std::vector<std::int64_t> newIndices = canonicalIndices;
    const std::vector<std::string> canonical = queue_.canonicalIDs;
    const std::string mode(repeatMode);

    auto reading = nowPlaying(QueueAdvance::suppressed);
    if (reading.persistentID != current)
        throw TransportError::invalidItem(current);
    auto window = rotatedQueue(newQueue, static_cast<std::int64_t>(position), mode);
    if (window.size() > managedQueueWindowLimit)
        window.resize(managedQueueWindowLimit);
    if (window.empty() || window.front() != current)
        throw TransportError::invalidItem(current);

    playQueue({.volume = volume().value_or(50.0),
               .window = std::move(window),
               .windowIndex = 0,
               .chosenID = current,
               .repeatMode = mode,
               .queue = newQueue,
               .queuePosition = static_cast<std::int64_t>(position),
               .canonical = canonical,
               .canonicalIndices = newIndices,
               .shuffle = shuffle,
               .restore = reading});
}

} // namespace wheelbox
