// The managed queue: a temporary playlist in the music app for each collection the device plays
// (its records: ManagedQueuePlaylists).
#include "transport/MusicAppTransport.hpp"

#include "library/ManagedQueueName.hpp"
#include "platform/RandomSource.hpp"
#include "platform/UserDefaults.hpp"
#include "transport/ScriptError.hpp"
#include "transport/ScriptReply.hpp"
#include "transport/ScriptRunner.hpp"
#include "transport/TransportError.hpp"

#include <exception>

namespace wheelbox {
namespace {

bool isInside(std::int64_t index, std::size_t count)
{
    return index >= 0 && static_cast<std::uint64_t>(index) < count;
}

// The arguments agree on which track is chosen: in the window, in the queue and in the collection.
bool isConsistent(const QueueStart &start)
{
    if (!isInside(start.windowIndex, start.window.size()) ||
        start.window[static_cast<std::size_t>(start.windowIndex)] != start.chosenID)
        return false;
    if (!isInside(start.queuePosition, start.queue.size()) ||
        start.queue[static_cast<std::size_t>(start.queuePosition)] != start.chosenID)
        return false;
    if (start.canonicalIndices.size() != start.queue.size())
        return false;
    auto canonicalIndex = start.canonicalIndices[static_cast<std::size_t>(start.queuePosition)];
    return isInside(canonicalIndex, start.canonical.size()) &&
           start.canonical[static_cast<std::size_t>(canonicalIndex)] == start.chosenID;
}

struct StartedQueue {
    std::string playlistID;
    std::string playlistName;
};

// Checks the start script's reply: five fields joined by ASCII 30, the copied track IDs joined by
// ASCII 31 in the last one.
StartedQueue parseStartReply(const std::optional<std::string> &output, std::string_view chosenID)
{
    const std::string text = output.value_or("");
    auto fields = scriptReply::split(text, '\x1e');
    std::optional<std::int64_t> startPosition;
    if (fields.size() == 5)
        startPosition = scriptReply::integer(fields[3]);
    if (fields.size() != 5 || fields[0].empty() || fields[1].empty() || !startPosition)
        throw ScriptError::failed("Music returned an invalid queue.");
    if (fields[2] == "queue") {
        std::vector<std::string_view> copied;
        for (auto id : scriptReply::split(fields[4], '\x1f')) {
            if (!id.empty())
                copied.push_back(id);
        }
        // 1-based, and compared before it is lowered: the player may print any integer.
        if (*startPosition < 1 || !isInside(*startPosition - 1, copied.size()) ||
            copied[static_cast<std::size_t>(*startPosition - 1)] != chosenID)
            throw ScriptError::failed("Music lost the selected queue position.");
    } else if (fields[2] != "direct") {
        throw ScriptError::failed("Music returned an unknown playback mode.");
    }
    return {std::string(fields[0]), std::string(fields[1])};
}

} // namespace

void MusicAppTransport::playQueue(const QueueStart &start)
{
    if (!isConsistent(start))
        throw TransportError::invalidItem(start.chosenID);
    auto requested = rotatedQueue(start.window, start.windowIndex, start.repeatMode);

    auto name = playlists_.beginStart();

    std::optional<musicScripts::RestoredPlayback> restore;
    if (start.restore)
        restore = musicScripts::RestoredPlayback{start.restore->elapsed, start.restore->isPlaying};
    StartedQueue started;
    try {
        auto output = runner_.run(musicScripts::startQueue(name, start.chosenID, requested,
                                                           {start.volume, start.repeatMode}, restore),
                                  queueStartTimeout);
        started = parseStartReply(output, start.chosenID);
    } catch (...) {
        playlists_.abandonStart();
        throw;
    }

    queue_ = LogicalQueue{};
    queue_.ids = start.queue;
    queue_.index = static_cast<std::size_t>(start.queuePosition);
    queue_.canonicalIDs = start.canonical;
    queue_.canonicalIndices = start.canonicalIndices;
    queue_.followed = true;
    explicitSeek_.reset();
    expectedManagedTrackID_ = start.chosenID;
    shuffleEnabled_ = false;
    logicalShuffleEnabled_ = start.shuffle;
    repeatMode_ = start.repeatMode;

    // The old playlist goes only once the new one plays: a start that fails keeps the queue.
    playlists_.finishStart(std::move(started.playlistID), std::move(started.playlistName));
}

} // namespace wheelbox
