#pragma once

#include <filesystem>

// The program's folders of the user's, as the XDG base directories place them.
namespace wheelbox::userFolders {

// $XDG_STATE_HOME/wheelbox, else ~/.local/state/wheelbox: what outlives a run (the private MPD's
// database and state, the lock that keeps the program single).
std::filesystem::path state();

// $XDG_RUNTIME_DIR/wheelbox when XDG_RUNTIME_DIR names a folder; else run/ in state(): sockets.
// Never a folder shared with other programs, such as the cache GLib falls back to.
std::filesystem::path runtime();

// Makes `folder` (and what is missing above it) and closes it to everyone else: a folder of this
// user's with mode 0700, tightened when it was open. Throws std::runtime_error saying why not.
void makePrivate(const std::filesystem::path &folder);

} // namespace wheelbox::userFolders
