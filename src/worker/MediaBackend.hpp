#pragma once

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace wheelbox {

// One firmware request as the worker receives it.
struct Request {
    std::string method;
    boost::json::object params;
};

// What a request produced: the result the firmware's promise resolves with, and a now-playing
// reading the bridge pushes first. Either may be absent.
struct Reply {
    std::optional<boost::json::value> result;
    std::optional<boost::json::value> nowPlaying;
};

// Names one poll for cancellation. The bridge takes it on the main thread when it queues the poll,
// so that a cancellation between queuing and running still ends that poll's scripts.
struct PollTicket {
    std::uint64_t generation = 0;

    bool operator==(const PollTicket &) const = default;
};

// The back end the bridge runs on its media queue: MediaWorker in the program, fakes in the
// bridge's tests. Errors are thrown as the subsystems' own error types; their what() is the text the
// firmware shows.
class MediaBackend {
  public:
    virtual ~MediaBackend() = default;

    // Media queue only, one call at a time.

    // Runs one firmware method. Throws.
    virtual Reply handle(const Request &request) = 0;

    // The full poll: the now-playing object to push, or nothing when nothing changed. Throws.
    virtual std::optional<boost::json::value> pollNowPlaying(PollTicket poll) = 0;

    // The light poll: whether the music transport walks its logical queue, and a read of its
    // now-playing state that keeps that queue moving while the device sleeps. Never throw.
    virtual bool musicUsesLogicalQueue() noexcept = 0;
    virtual void readMusicNowPlaying(PollTicket poll) noexcept = 0;

    // Covers arrive after the reading they belong to. The last reported reading with its cover,
    // when only the cover changed since it was reported; nothing otherwise. Runs no script, so it
    // is as cheap as a cover deserves. Never throws.
    virtual std::optional<boost::json::value> artworkChange() noexcept = 0;

    // The session clean-up: ends any fast-forward or rewind of the system transport, then of the
    // music transport, ignoring their errors.
    virtual void endScans() noexcept = 0;

    // Cancellation of the players' scripts, from the main thread while the media queue may be busy:
    // thread-safe, never blocking on the queue.

    // The ticket for a poll queued now.
    virtual PollTicket issuePollTicket() noexcept = 0;
    // Ends the scripts of every poll whose ticket was issued before.
    virtual void cancelPolls() noexcept = 0;
    // Ends the scripts requests are running now.
    virtual void cancelRequests() noexcept = 0;
    // Both.
    virtual void cancelAllScripts() noexcept = 0;

    // Called on any thread when a cover the last reading lacked may have arrived; the bridge then
    // asks artworkChange(). Thread-safe; once this returns, an earlier handler is no longer called.
    // An empty function stops the calls. A back end without covers never calls it.
    virtual void setArtworkArrivalHandler(std::function<void()> handler) = 0;
};

} // namespace wheelbox
