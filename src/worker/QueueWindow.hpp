#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace wheelbox {

class RandomSource;

enum class Shuffle { off, on };

// A collection about to play from a chosen track: the whole play order and the part of it the
// music app's temporary playlist receives.
struct QueueWindow {
    // At most the maximum count of tracks around the chosen one, and its position there.
    std::vector<std::string> window;
    std::size_t windowIndex = 0;
    // The play order (the collection, or the chosen track followed by the rest shuffled) and the
    // chosen track's position in it.
    std::vector<std::string> queue;
    std::size_t position = 0;
    // The collection in its own order, and for each entry of `queue` its index there.
    std::vector<std::string> canonical;
    std::vector<std::int64_t> canonicalIndices;
};

// The play order of `collection` from the chosen track `trackID` on, and its window of at most
// `maximumCount` entries. `requestedIndex` names the chosen occurrence when it points at `trackID`;
// otherwise the track must occur exactly once. With shuffle (and two tracks or more) the chosen
// track comes first and the rest follow in a uniformly random order drawn from `random`. With
// repeat "All" a long queue is cut as a circle starting at the chosen track; otherwise the window
// holds up to 100 tracks before it.
// Throws TransportError::invalidItem(trackID) when the chosen track cannot be told, and
// WorkerError::invalidParameter("maximumCount") when `maximumCount` is not positive.
QueueWindow makeQueueWindow(std::vector<std::string> collection, std::int64_t requestedIndex,
                            std::string_view trackID, std::int64_t maximumCount, Shuffle shuffle,
                            std::string_view repeatMode, RandomSource &random);

} // namespace wheelbox
