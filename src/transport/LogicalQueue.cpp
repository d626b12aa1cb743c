#include "transport/LogicalQueue.hpp"

#include <algorithm>

namespace wheelbox {
namespace {

// A reading this close to the start or the end of a track counts as being there.
constexpr double trackEdgeSeconds = 4.0;

} // namespace

std::optional<std::size_t> LogicalQueue::nextAvailableIndex(std::size_t start,
                                                            std::string_view repeatMode) const
{
    std::size_t count = ids.size();
    std::size_t position = start;
    for (std::size_t step = 0; step < count; ++step, ++position) {
        if (position >= count) {
            if (repeatMode != "All")
                return std::nullopt;
            position = 0;
        }
        if (!unavailable.contains(position))
            return position;
    }
    return std::nullopt;
}

std::vector<std::string> rotatedQueue(const std::vector<std::string> &list, std::int64_t start,
                                      std::string_view repeatMode)
{
    if (start < 0 || static_cast<std::uint64_t>(start) >= list.size())
        return {};
    auto pivot = list.begin() + start;
    std::vector<std::string> rotated(pivot, list.end());
    if (repeatMode == "All")
        rotated.insert(rotated.end(), list.begin(), pivot);
    return rotated;
}

QueueFollowUpDecision decideQueueFollowUp(const QueueFollowUpInput &input)
{
    const auto &previous = input.previous;
    const auto &reading = input.reading;
    const auto &queue = input.queue;
    QueueFollowUpDecision decision;

    // A track the transport has just started itself is no track end, even when the one before it
    // was about to end (the user chose the song that was playing its last seconds).
    if (input.advance == QueueAdvance::allowed && !input.seekAffected && !input.expectedTrack &&
        queue.indexIsInside() && previous.persistentID && queue.ids[*queue.index] == *previous.persistentID) {
        std::size_t next = *queue.index + 1;
        std::optional<std::size_t> candidate;
        if (next < queue.ids.size())
            candidate = next;
        else if (input.repeatMode == "All")
            candidate = 0;
        bool wasEnding = previous.isPlaying && !input.appShuffles && input.repeatMode != "One" &&
                         previous.duration > 0 && previous.duration - previous.elapsed <= trackEdgeSeconds;
        if (candidate && wasEnding) {
            bool stopped = reading.state == "stopped";
            bool sameTrack = reading.persistentID == queue.ids[*queue.index];
            bool advances = reading.position <= trackEdgeSeconds
                                ? !sameTrack || reading.position + 0.5 < previous.elapsed || stopped
                                : stopped;
            if (advances)
                decision.advanceFrom = candidate;
        }
    }

    if (queue.followed && !input.expectedTrack && previous.persistentID) {
        if (reading.persistentID != *previous.persistentID) {
            decision.leave = !decision.advanceFrom;
        } else if (!input.seekAffected) {
            decision.leave = input.repeatMode != "One" && reading.position + 1.0 < previous.elapsed &&
                             previous.duration - previous.elapsed > 8.0;
        }
    }
    return decision;
}

std::optional<std::size_t> followedQueueIndex(const LogicalQueue &queue, std::string_view persistentID)
{
    if (queue.indexIsInside() && queue.ids[*queue.index] == persistentID)
        return queue.index;
    if (!queue.followed)
        return std::nullopt;
    auto found = std::find(queue.ids.begin(), queue.ids.end(), persistentID);
    if (found == queue.ids.end())
        return std::nullopt;
    return static_cast<std::size_t>(found - queue.ids.begin());
}

} // namespace wheelbox
