#pragma once

#include "lib/mpd/MpdConnection.hpp"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace wheelbox {

// Which MPD the program talks to, chosen once at start as MPD clients do: MPD_HOST / MPD_PORT
// when either is set (read as libmpdclient reads them, never probed: the user named it); else the
// first of $XDG_RUNTIME_DIR/mpd/socket, /run/mpd/socket and localhost:6600 where an MPD answers;
// else none, and the program starts an MPD of its own.
class MpdLocator {
  public:
    // What the choice is made from; the program's own comes from the environment.
    struct Settings {
        std::optional<std::string> mpdHost;
        std::optional<std::string> mpdPort;
        std::optional<std::filesystem::path> runtimeDirectory;
        // Whether an MPD greets at the address. A socket unit may start MPD on the first
        // connection, so the program's probe waits a little for the greeting.
        std::function<bool(const mpd::MpdAddress &)> answers;
    };

    struct Choice {
        enum class Source { environment, found, none };
        Source source = Source::none;
        mpd::MpdAddress address;
    };

    // How long the program's probe waits for each candidate's greeting.
    static constexpr std::chrono::milliseconds probeTimeout{2000};

    // The process environment and a real probe.
    static Settings settingsFromEnvironment();

    // The addresses probed, in order, when MPD_HOST and MPD_PORT are not set.
    static std::vector<mpd::MpdAddress>
    candidates(const std::optional<std::filesystem::path> &runtimeDirectory);

    static Choice locate(const Settings &settings);

    // The program's MPD, chosen once at start while no other thread runs: as locate() chooses from
    // the process environment, `whenNoneAnswers` standing in when none answers. Unless the user
    // named it, the choice is written into MPD_HOST and MPD_PORT of the process environment and of
    // the script tool's (platform/AutomationTool.hpp), so that every part of the program and every
    // tool it starts reach that same MPD. Throws std::invalid_argument for an address no
    // environment variable can carry.
    static Choice chooseForProgram(const mpd::MpdAddress &whenNoneAnswers);

    // The MPD_HOST value that names `address` to every MPD client ("password@host", a socket path,
    // "@abstract"), and the MPD_PORT value (empty for sockets). Throws std::invalid_argument for an
    // address no environment variable can carry (NUL) or that MPD clients would read back as
    // another one (an empty password, or one holding "@").
    static std::string hostVariable(const mpd::MpdAddress &address);
    static std::string portVariable(const mpd::MpdAddress &address);
};

} // namespace wheelbox
