#pragma once

#include "lib/mpd/MpdConnection.hpp"
#include "linux/MpdServerStatus.hpp"
#include "platform/LibrarySource.hpp"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace wheelbox {

// Stands before the library of the program's MPD. When there is no MPD to read (not installed,
// failed to start) every read fails with the reason, in the user's words. While the program brings
// a stopped MPD back, a read waits for it for a while, then fails with the reason. While MPD builds
// a database that holds no song yet (its first scan of the music folder), a read waits for the scan
// for a while, so the device shows its list loading rather than no music, and fails with
// loadingText when the scan takes longer. Otherwise it reads through the source it wraps. An
// empty library is told where its music goes.
// Used from one thread at a time, as every library source.
class MpdLibraryGate final : public LibrarySource {
  public:
    static constexpr const char *loadingText = "Music library is loading\u2026";

    struct Settings {
        // The longest a read waits, for MPD to come back and for its first scan together: under the
        // bridge's 35 s for a list, so the answer is a reason rather than a time-out.
        std::chrono::milliseconds scanWait{20'000};
        std::chrono::milliseconds pollInterval{250};
        // Set when the program quits: a wait ends at once.
        std::shared_ptr<const std::atomic<bool>> quitting;
        // The folder MPD reads when it is the program's own; absent for anyone else's MPD.
        std::optional<std::filesystem::path> ownMusicFolder = std::nullopt;
    };

    // `status`: whether the program's own MPD is there, and why not; null for an MPD of the user's.
    MpdLibraryGate(std::unique_ptr<LibrarySource> library, mpd::MpdAddress address,
                   std::shared_ptr<const MpdServerStatus> status, Settings settings);

    // Throws LibrarySourceError.
    LibraryContents open() override;
    // The wrapped source's answer; false without an MPD.
    bool isUnchangedSinceLastOpen() noexcept override;
    // The program's own MPD reads a folder the user can fill; anyone else's is named by address.
    std::optional<std::string> whereMusicGoes() const override;

  private:
    // Whether MPD is scanning into a database never saved or without songs (a first scan); false
    // when it cannot be asked.
    bool isScanningEmptyDatabase() const;

    std::unique_ptr<LibrarySource> library_;
    mpd::MpdAddress address_;
    std::shared_ptr<const MpdServerStatus> status_;
    Settings settings_;
};

} // namespace wheelbox
