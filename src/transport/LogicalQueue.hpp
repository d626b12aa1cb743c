#pragma once

#include "model/NowPlayingState.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace wheelbox {

// The device's play order as the music transport keeps it, beside the temporary playlist that the
// music app plays: the whole collection in play order, of any length, and where the app is in it.
struct LogicalQueue {
    // Persistent IDs in play order (shuffled when the device shuffles).
    std::vector<std::string> ids;
    // The collection in its own order, and for each entry of `ids` its index there.
    std::vector<std::string> canonicalIDs;
    std::vector<std::int64_t> canonicalIndices;
    // Positions in `ids` whose track the app refused to play; passed over until one starts.
    std::set<std::size_t> unavailable;
    // Position of the current track in `ids`.
    std::optional<std::size_t> index;
    // The transport itself advances through `ids` (after a queue start, until the user takes over).
    bool followed = false;

    bool indexIsInside() const noexcept { return index && *index < ids.size(); }

    // The first position from `start` on that is not marked unavailable; past the end it wraps to
    // the start only when `repeatMode` is "All". Nothing when every position has been tried.
    std::optional<std::size_t> nextAvailableIndex(std::size_t start, std::string_view repeatMode) const;
};

// `list` from `start` on, followed by the entries before `start` when `repeatMode` is "All"; empty
// when `start` is outside the list.
std::vector<std::string> rotatedQueue(const std::vector<std::string> &list, std::int64_t start,
                                      std::string_view repeatMode);

// May a now-playing read start the next queue track by itself?
enum class QueueAdvance { allowed, suppressed };

// One fresh reading of the music app, as the queue follow-up needs it.
struct QueueReading {
    std::string persistentID;
    double position = 0;
    // Lower-cased: "playing", "paused" or "stopped".
    std::string state;
};

struct QueueFollowUpInput {
    // The reading before this one.
    const NowPlayingState &previous;
    const QueueReading &reading;
    const LogicalQueue &queue;
    QueueAdvance advance = QueueAdvance::allowed;
    // The app's own shuffle was switched on by the transport: it, not the queue, picks the next track.
    bool appShuffles = false;
    std::string_view repeatMode;
    // The reading shows the track the transport has just started itself.
    bool expectedTrack = false;
    // A position jump the device asked for is still settling.
    bool seekAffected = false;
};

struct QueueFollowUpDecision {
    // The previous queue track ended: move on from this position (the next one, or 0 after a wrap).
    std::optional<std::size_t> advanceFrom;
    // The user took over in the app: stop following the queue.
    bool leave = false;
};

// What the reading means for the queue: a track that ended, a track the user picked, a jump
// backwards the device did not ask for, or nothing.
QueueFollowUpDecision decideQueueFollowUp(const QueueFollowUpInput &input);

// The position of the reading's track: the current one while it still plays, else its first
// position while the queue is followed, else none.
std::optional<std::size_t> followedQueueIndex(const LogicalQueue &queue, std::string_view persistentID);

} // namespace wheelbox
