#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace wheelbox {

// The configuration of the MPD the program starts when no other answers: the user's music folder,
// its database, playlists and state in a folder of the program's, a unix socket in a folder only
// the user can enter, the sound outputs MPD would have found by itself plus a silent one that
// keeps time, so playback runs on a machine without sound too.
struct PrivateMpdConfiguration {
    // A sound output besides the silent one.
    enum class Output { pulse, alsa };

    std::filesystem::path musicDirectory;
    // Database, stored playlists, state, log, and the lock of the MPD's owner; made with mode 0700,
    // as is the folder above it.
    std::filesystem::path stateDirectory;
    // Holds the socket; made with mode 0700 (MPD's socket itself is world-writable).
    std::filesystem::path runtimeDirectory;
    std::vector<Output> outputs;

    // The user's: the XDG music folder (else ~/Music), $XDG_STATE_HOME/wheelbox/mpd, the program's
    // runtime folder (userFolders::runtime()), and the outputs found on this machine.
    static PrivateMpdConfiguration forUser();

    // A PulseAudio (or PipeWire) server the user's programs reach, else an ALSA playback device.
    static std::vector<Output> detectOutputs();

    std::filesystem::path socket() const { return runtimeDirectory / "mpd.socket"; }
    std::filesystem::path configurationFile() const { return stateDirectory / "mpd.conf"; }
    std::filesystem::path databaseFile() const { return stateDirectory / "database"; }
    std::filesystem::path logFile() const { return stateDirectory / "log"; }
    // MPD's own standard output and error, where a failure to start is explained.
    std::filesystem::path consoleFile() const { return stateDirectory / "console.log"; }
    // Held by the copy of the program that runs this MPD, and by the MPD.
    std::filesystem::path lockFile() const { return stateDirectory / "owner.lock"; }

    // The mpd.conf text. Throws std::invalid_argument for a path MPD's configuration cannot hold
    // (a line break or NUL) or a socket path longer than a unix socket address takes.
    std::string text() const;
};

} // namespace wheelbox
