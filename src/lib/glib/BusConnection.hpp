#pragma once

#include "lib/glib/GLibPointers.hpp"

#include <chrono>
#include <optional>
#include <string>

namespace wheelbox::glib {

// The user's session bus address: DBUS_SESSION_BUS_ADDRESS, else the socket at
// $XDG_RUNTIME_DIR/bus. Never starts a bus (GLib's own lookup may run dbus-launch and wait on it).
std::optional<std::string> sessionBusAddress();

// A connection of the caller's own to the message bus at `address` (the session bus when absent),
// authenticated and registered within `timeout`. Its own connection, not GLib's shared one, whose
// loss would end the program. Throws GLibError: G_IO_ERROR_TIMED_OUT when the bus did not answer
// in time, G_IO_ERROR_NOT_FOUND when there is no session bus to ask.
ObjectPtr<GDBusConnection> connectBus(const std::optional<std::string> &address,
                                      std::chrono::milliseconds timeout);

} // namespace wheelbox::glib
