#pragma once

#include "worker/MediaBackend.hpp"

#include <functional>
#include <memory>

namespace wheelbox {

class Clock;
class LibrarySource;
class UserDefaults;

// What the application gives its back end: the shared user defaults, the clock, and where the
// music library is read from (the MPD it chose, behind its gate).
struct ApplicationBackEndParts {
    UserDefaults &defaults;
    const Clock &clock;
    std::function<std::unique_ptr<LibrarySource>()> makeLibrarySource;
};

// The back end behind the application's bridge, made when the bridge is. Throws when it cannot be
// made.
std::unique_ptr<MediaBackend> makeApplicationBackEnd(const ApplicationBackEndParts &parts);

} // namespace wheelbox
