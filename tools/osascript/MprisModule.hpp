#pragma once

#include "MprisPlayer.hpp"
#include "SpotifyModuleABI.h"

#include <memory>
#include <string>

namespace wheelbox::osascript {

// The MPRIS player behind the Spotify module, which the tool loads only when a script addresses
// Spotify: GIO costs milliseconds to load, and a now-playing run of the Music app must not pay them.
class MprisModule final : public MprisPlayer {
  public:
    // Loads wheelbox-osascript-spotify.so from beside the executable and opens `busName` there.
    // Throws ApplicationError ("Application isn’t running.") when it cannot, and says why on
    // standard error.
    static std::unique_ptr<MprisModule> load(const std::string &busName);
    ~MprisModule() override;

    MprisPlayerState read(std::chrono::milliseconds timeout) override;
    void call(const char *method, std::chrono::milliseconds timeout) override;
    void setPosition(const std::string &trackPath, std::int64_t microseconds,
                     std::chrono::milliseconds timeout) override;
    void seek(std::int64_t offsetMicroseconds, std::chrono::milliseconds timeout) override;
    void setVolume(double volume, std::chrono::milliseconds timeout) override;
    void setShuffle(bool shuffle, std::chrono::milliseconds timeout) override;
    void setLoopStatus(const char *status, std::chrono::milliseconds timeout) override;

  private:
    MprisModule(const WheelboxMprisFunctions &functions, WheelboxMpris *player) noexcept
        : functions_(functions), player_(player)
    {}

    const WheelboxMprisFunctions &functions_;
    WheelboxMpris *player_;
};

} // namespace wheelbox::osascript
