#pragma once

#include "lib/glib/GLibPointers.hpp"
#include "lib/mpd/MpdConnection.hpp"
#include "platform/RunningApplications.hpp"

#include <chrono>
#include <optional>
#include <string>

namespace wheelbox {

struct LinuxRunningApplicationsSettings {
    // The MPD that stands in for the music app; when absent, the one every client finds
    // (MPD_HOST / MPD_PORT, the user's socket, localhost), looked up on every check.
    std::optional<mpd::MpdAddress> mpdAddress;
    // The session bus Spotify's MPRIS name lives on; when absent, the user's session bus.
    std::optional<std::string> busAddress;
    std::string spotifyBusName = "org.mpris.MediaPlayer2.spotify";
    // The longest a check waits for an answer.
    std::chrono::milliseconds timeout{500};
};

// The music app runs when its MPD answers within the timeout; Spotify runs when its MPRIS name has
// an owner on the session bus. Other identifiers never run. Used from one thread at a time.
class LinuxRunningApplications final : public RunningApplications {
  public:
    explicit LinuxRunningApplications(LinuxRunningApplicationsSettings settings = {});

    bool isRunning(std::string_view bundleIdentifier) override;

  private:
    bool mpdAnswers() const;
    bool busNameHasOwner();

    LinuxRunningApplicationsSettings settings_;
    // Kept between checks; dropped when the bus closes, so a restarted bus is found again.
    glib::ObjectPtr<GDBusConnection> bus_;
};

} // namespace wheelbox
