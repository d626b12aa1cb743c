#pragma once

#include <string_view>

namespace wheelbox {

// The automated players the transports drive, by the bundle identifiers they are known by.
inline constexpr std::string_view musicAppBundleIdentifier = "com.apple.Music";
inline constexpr std::string_view spotifyBundleIdentifier = "com.spotify.client";

// Whether an application with a given bundle identifier runs. Asked before player commands and
// on every poll, so an answer costs at most a short, bounded wait. Used from the media worker's
// queue.
class RunningApplications {
  public:
    virtual ~RunningApplications() = default;

    // True when at least one application with this identifier runs. Anything that cannot be
    // asked, and every identifier the platform does not know, counts as not running.
    virtual bool isRunning(std::string_view bundleIdentifier) = 0;
};

} // namespace wheelbox
