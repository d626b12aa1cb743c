#pragma once

#include "Errors.hpp"
#include "Value.hpp"

#include <chrono>
#include <optional>
#include <string_view>

namespace wheelbox::osascript {

// The application terms scripts may use; which of them an application understands is its
// Dictionary's business.
enum class Property {
    CurrentTrack,
    PlayerState,
    PlayerPosition,
    SoundVolume,
    ShuffleEnabled,
    SongRepeat,
    Shuffling,
    Repeating,
    PersistentID,
    Name,
    Artist,
    Album,
    Duration,
    SpotifyURL,
};

enum class ElementClass { Track, LibraryPlaylist, UserPlaylist };

enum class Command { PlayPause, Pause, Resume, Play, Stop, NextTrack, PreviousTrack, FastForward, Rewind };

// `whose <property> is <value>` (or `is not`), answered by the application so that it can use
// an index instead of walking every element.
struct ElementFilter {
    Property property;
    Value value;
    bool negated = false;
};

// One scriptable application behind `tell application "…"`. Created on first use by the
// interpreter, used by one thread. Failures are ApplicationErrors in the application's words; a
// null object means the application itself.
class Application {
  public:
    virtual ~Application() = default;

    virtual std::string_view name() const noexcept = 0;
    // The current `with timeout` bound for each request to the player.
    virtual void setTimeout(std::chrono::milliseconds timeout) = 0;

    virtual Value getProperty(const ObjectReference *object, Property property) = 0;
    virtual void setProperty(const ObjectReference *object, Property property, const Value &value) = 0;
    virtual Value runCommand(Command command, const std::optional<Value> &directParameter) = 0;

    // `user playlist "Name"`, `library playlist 1`: by index (a number) or by name (text).
    virtual Value element(const ObjectReference *container, ElementClass elementClass, const Value &key);
    virtual Value everyElement(const ObjectReference *container, ElementClass elementClass,
                               const std::optional<ElementFilter> &filter);
    virtual bool exists(const ObjectReference &object);
    virtual Value make(ElementClass elementClass, const Record &properties);
    virtual Value duplicate(const ObjectReference &object, const ObjectReference &to);
    virtual void remove(const ObjectReference &object);

    // The script waited (`delay`): readings taken before are stale.
    virtual void invalidateReadings() noexcept {}
    // The run is ending: work held back for batching must reach the player now.
    virtual void finish() {}
};

// The usual refusal of a request the application does not handle.
[[noreturn]] void notUnderstood(std::string_view what);

} // namespace wheelbox::osascript

namespace wheelbox::osascript {

// The AppleScript spelling of a term, for error texts.
std::string_view propertyName(Property property) noexcept;
std::string_view elementClassName(ElementClass elementClass) noexcept;

} // namespace wheelbox::osascript
