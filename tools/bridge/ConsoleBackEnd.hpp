#pragma once

#include "platform/UserDefaults.hpp"
#include "worker/MediaBackend.hpp"

#include <memory>

namespace wheelbox {

class Clock;

// What wheelbox-bridge runs behind the bridge: the back end and the user defaults it and the
// bridge share. The defaults must outlive the back end.
struct ConsoleBackEnd {
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<MediaBackend> backend;
};

// Made by the program's back-end factory: the real one in the installed console, a fake one in
// the console's test build. Throws when the back end cannot be made.
ConsoleBackEnd makeConsoleBackEnd(const Clock &clock);

} // namespace wheelbox
