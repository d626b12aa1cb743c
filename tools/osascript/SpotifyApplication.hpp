#pragma once

#include "Application.hpp"
#include "MprisPlayer.hpp"
#include "SpotifyPositionEstimate.hpp"

#include <memory>
#include <optional>

namespace wheelbox::osascript {

// The "Spotify" application on its MPRIS player. All player properties are read at once and kept
// until a command changes the player or the script waits.
class SpotifyApplication final : public Application {
  public:
    static constexpr const char *defaultBusName = "org.mpris.MediaPlayer2.spotify";

    SpotifyApplication(std::unique_ptr<MprisPlayer> player, SpotifyPositionEstimate estimate);
    ~SpotifyApplication() override;
    // The client's player through the Spotify module; the bus name from WHEELBOX_SPOTIFY_BUS_NAME
    // when set (tests use a stub player). Throws ApplicationError.
    static std::unique_ptr<SpotifyApplication> create();

    std::string_view name() const noexcept override { return "Spotify"; }
    void setTimeout(std::chrono::milliseconds timeout) override { timeout_ = timeout; }

    Value getProperty(const ObjectReference *object, Property property) override;
    void setProperty(const ObjectReference *object, Property property, const Value &value) override;
    Value runCommand(Command command, const std::optional<Value> &directParameter) override;
    void invalidateReadings() noexcept override { state_.reset(); }

  private:
    const MprisPlayerState &state();
    bool isPlaying();
    double position(const MprisTrack &track);

    std::unique_ptr<MprisPlayer> player_;
    SpotifyPositionEstimate estimate_;
    std::chrono::milliseconds timeout_{120000};
    std::optional<MprisPlayerState> state_;
};

} // namespace wheelbox::osascript
