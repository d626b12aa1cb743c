#pragma once

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

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

// The back end the bridge runs on its media queue, and only there: MediaWorker in the program,
// fakes in the bridge's tests. Errors are thrown as the subsystems' own error types; their what()
// is the text the firmware shows.
class MediaBackend {
  public:
    virtual ~MediaBackend() = default;

    // Runs one firmware method. Throws.
    virtual Reply handle(const Request &request) = 0;

    // The full poll: the now-playing object to push, or nothing when nothing changed. Throws.
    virtual std::optional<boost::json::value> pollNowPlaying() = 0;

    // The light poll: whether the music transport walks its logical queue, and a read of its
    // now-playing state that keeps that queue moving while the device sleeps. Never throw.
    virtual bool musicUsesLogicalQueue() noexcept = 0;
    virtual void readMusicNowPlaying() noexcept = 0;

    // The session clean-up: ends any fast-forward or rewind of the system transport, then of the
    // music transport, ignoring their errors.
    virtual void endScans() noexcept = 0;
};

} // namespace wheelbox
