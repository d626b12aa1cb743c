#pragma once

#include "Application.hpp"

#include <chrono>
#include <optional>
#include <string>

// The tool carries its own copy of the C++ runtime (it starts faster that way) and the Spotify
// module uses the system's, so no exception may cross between them: failures travel as values
// and are thrown again on the tool's side.
namespace wheelbox::osascript {

struct BoundaryFailure {
    enum class Kind { None, Application, Script };
    Kind kind = Kind::None;
    int number = 0;
    std::string message;
};

class BoundaryApplication {
  public:
    virtual ~BoundaryApplication() = default;
    virtual void setTimeout(std::chrono::milliseconds timeout) noexcept = 0;
    virtual Value getProperty(const ObjectReference *object, Property property,
                              BoundaryFailure &failure) noexcept = 0;
    virtual void setProperty(const ObjectReference *object, Property property, const Value &value,
                             BoundaryFailure &failure) noexcept = 0;
    virtual Value runCommand(Command command, const std::optional<Value> &directParameter,
                             BoundaryFailure &failure) noexcept = 0;
    virtual void invalidateReadings() noexcept = 0;
};

// The module's entry: creates its application; `owner` is the tool-side application that the
// module's objects name as theirs.
using CreateBoundaryApplication = BoundaryApplication *(*)(Application *owner);
inline constexpr const char *createBoundaryApplicationSymbol = "wheelboxCreateSpotifyApplication";

} // namespace wheelbox::osascript
