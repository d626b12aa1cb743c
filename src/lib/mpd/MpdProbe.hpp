#pragma once

#include "lib/mpd/MpdConnection.hpp"

#include <chrono>

namespace wheelbox::mpd {

// Whether an MPD listens at `address`: connects and reads its greeting, the name lookup included,
// all within `timeout`. The greeting alone proves an MPD runs there, password or not; nothing is
// sent. Unlike a libmpdclient connection, which reads the sub-second part of its timeout as
// microseconds before 2.21, any deadline is kept. Thread-safe.
bool answers(const MpdAddress &address, std::chrono::milliseconds timeout);

} // namespace wheelbox::mpd
