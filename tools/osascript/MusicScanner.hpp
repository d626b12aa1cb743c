#pragma once

#include "lib/mpd/MpdConnection.hpp"

#include <span>

namespace wheelbox::osascript {

// MPD has no scan, so `fast forward` and `rewind` leave a detached process behind that seeks the
// current song in growing steps until the next player command stops it. Scanners listen on an
// MPD client-to-client channel, so whichever wheelbox-osascript run comes next can stop one
// without knowing its process.
struct ScanRequest {
    int direction = 1; // 1 forward, -1 backward
    unsigned songID = 0;
    double startPosition = 0;
    double duration = 0;
};

// The target of scan tick `tick` (1-based): 1.25 s per tick for ticks 1-10, 2.5 s for ticks 11-25,
// 5 s after, from the start position, clamped to [0, duration - 0.5].
double scanTarget(const ScanRequest &request, int tick) noexcept;

// Starts a scanner, a run of this tool in its scan mode, and returns once it listens for the stop
// message. Throws MpdError when the scanner could not connect.
void startScanner(const mpd::MpdAddress &address, const ScanRequest &request);

// The tool's scan mode: `wheelbox-osascript --scan DIRECTION SONG-ID START DURATION`, started only
// by startScanner; reports on descriptor 3 once it listens. The exit status.
inline constexpr const char *scanModeArgument = "--scan";
int runScanner(std::span<const char *const> arguments) noexcept;

// Stops every running scanner and waits (up to a second) until they have let go of the player.
// Costs one round trip when none runs. Throws MpdError.
void stopScanners(const mpd::MpdConnection &connection);

} // namespace wheelbox::osascript
