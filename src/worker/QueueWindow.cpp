#include "worker/QueueWindow.hpp"

#include "platform/RandomSource.hpp"
#include "transport/TransportError.hpp"
#include "worker/WorkerError.hpp"

#include <algorithm>
#include <utility>

namespace wheelbox {
namespace {

// The window keeps up to this many tracks before the chosen one.
constexpr std::size_t tracksBeforeChosen = 100;

std::size_t chosenPosition(const std::vector<std::string> &collection, std::int64_t requestedIndex,
                           std::string_view trackID)
{
    if (requestedIndex >= 0 && static_cast<std::uint64_t>(requestedIndex) < collection.size() &&
        collection[static_cast<std::size_t>(requestedIndex)] == trackID)
        return static_cast<std::size_t>(requestedIndex);
    auto first = std::find(collection.begin(), collection.end(), trackID);
    if (first == collection.end() || std::find(first + 1, collection.end(), trackID) != collection.end())
        throw TransportError::invalidItem(std::string(trackID));
    return static_cast<std::size_t>(first - collection.begin());
}

} // namespace

QueueWindow makeQueueWindow(std::vector<std::string> collection, std::int64_t requestedIndex,
                            std::string_view trackID, std::int64_t maximumCount, Shuffle shuffle,
                            std::string_view repeatMode, RandomSource &random)
{
    const std::size_t chosen = chosenPosition(collection, requestedIndex, trackID);
    const std::size_t count = collection.size();

    QueueWindow result;
    result.canonicalIndices.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        result.canonicalIndices[i] = static_cast<std::int64_t>(i);
    result.queue = collection;
    result.position = chosen;
    if (shuffle == Shuffle::on && count >= 2) {
        // The chosen track goes first; Fisher-Yates over the others, drawing from the injected
        // source so a test can replay the order.
        std::rotate(result.queue.begin(), result.queue.begin() + static_cast<std::ptrdiff_t>(chosen),
                    result.queue.begin() + static_cast<std::ptrdiff_t>(chosen) + 1);
        std::rotate(result.canonicalIndices.begin(),
                    result.canonicalIndices.begin() + static_cast<std::ptrdiff_t>(chosen),
                    result.canonicalIndices.begin() + static_cast<std::ptrdiff_t>(chosen) + 1);
        for (std::size_t i = count - 1; i > 1; --i) {
            std::size_t j = 1 + static_cast<std::size_t>(random.below(i));
            std::swap(result.queue[i], result.queue[j]);
            std::swap(result.canonicalIndices[i], result.canonicalIndices[j]);
        }
        result.position = 0;
    }
    result.canonical = std::move(collection);

    if (maximumCount <= 0)
        throw WorkerError::invalidParameter("maximumCount");
    const auto maximum = static_cast<std::uint64_t>(maximumCount);
    const std::size_t p = result.position;
    if (repeatMode == "All" && count > maximum) {
        result.window.reserve(static_cast<std::size_t>(maximum));
        for (std::size_t i = 0; i < maximum; ++i)
            result.window.push_back(result.queue[(p + i) % count]);
        result.windowIndex = 0;
    } else if (count > maximum) {
        std::size_t start = p > tracksBeforeChosen ? p - tracksBeforeChosen : 0;
        std::size_t end = std::min<std::size_t>(start + static_cast<std::size_t>(maximum), count);
        start = end > maximum ? end - static_cast<std::size_t>(maximum) : 0;
        result.window.assign(result.queue.begin() + static_cast<std::ptrdiff_t>(start),
                             result.queue.begin() + static_cast<std::ptrdiff_t>(end));
        result.windowIndex = p - start;
    } else {
        result.window = result.queue;
        result.windowIndex = p;
    }
    return result;
}

} // namespace wheelbox
