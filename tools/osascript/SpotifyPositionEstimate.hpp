#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace wheelbox::osascript {

// The Spotify client answers 0 for its position. Each run of the tool is a new process, so where
// the track probably is comes from a small state file: the track, a position, when it was seen
// there, and whether it was playing then. Positions that are reported (not 0) are trusted as
// they are.
class SpotifyPositionEstimate {
  public:
    struct Anchor {
        std::string track;
        double position = 0;     // seconds
        std::int64_t seenAt = 0; // nanoseconds on the clock below
        bool playing = false;
    };
    // Nanoseconds on a clock shared by all processes of the machine (CLOCK_BOOTTIME).
    using Clock = std::function<std::int64_t()>;

    // No file (no $XDG_RUNTIME_DIR): every unreported position reads as 0.
    SpotifyPositionEstimate(std::optional<std::filesystem::path> file, Clock clock);
    // $XDG_RUNTIME_DIR/wheelbox/spotify-position on the boot-time clock.
    static SpotifyPositionEstimate standard();

    // The position to answer for `track` given what the player reported (seconds).
    double read(const std::string &track, bool playing, double reported, double length);
    // The tool moved the player, or started or stopped it, at `position`.
    void moved(const std::string &track, double position, bool playing);

  private:
    std::optional<Anchor> load() const;
    void save(const Anchor &anchor) const;

    std::optional<std::filesystem::path> file_;
    Clock clock_;
};

} // namespace wheelbox::osascript
