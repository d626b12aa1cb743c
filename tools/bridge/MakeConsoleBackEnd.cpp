// The back end of the installed wheelbox-bridge: the application's own, over the MPD every client
// finds and the user's defaults file ($XDG_CONFIG_HOME/wheelbox/defaults.json).
#include "ConsoleBackEnd.hpp"

#include "linux/FileUserDefaults.hpp"
#include "linux/LinuxMediaBackend.hpp"

namespace wheelbox {

ConsoleBackEnd makeConsoleBackEnd(const Clock &clock)
{
    auto defaults = std::make_unique<FileUserDefaults>(FileUserDefaults::defaultFolder(), clock);
    auto backend = makeLinuxMediaBackend({.defaults = *defaults});
    return {std::move(defaults), std::move(backend)};
}

} // namespace wheelbox
