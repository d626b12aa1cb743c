#pragma once

#include "Application.hpp"
#include "SpotifyPositionEstimate.hpp"
#include "lib/glib/GLibPointers.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wheelbox::osascript {

// The "Spotify" application on its MPRIS interface over the session bus
// (DBUS_SESSION_BUS_ADDRESS). The bus connects on the first request; all player properties are
// read with one GetAll and kept until a command changes the player or the script waits.
class SpotifyApplication final : public Application {
  public:
    static constexpr const char *defaultBusName = "org.mpris.MediaPlayer2.spotify";

    SpotifyApplication(std::string busName, SpotifyPositionEstimate estimate);
    ~SpotifyApplication() override;
    // The bus name from WHEELBOX_SPOTIFY_BUS_NAME when set (tests use a stub player), else the
    // Spotify client's.
    static std::unique_ptr<SpotifyApplication> create();

    std::string_view name() const noexcept override { return "Spotify"; }
    // The application the tracks name as theirs, when this one is reached through another.
    void setOwner(Application &owner) noexcept { owner_ = &owner; }
    void setTimeout(std::chrono::milliseconds timeout) override { timeout_ = timeout; }

    Value getProperty(const ObjectReference *object, Property property) override;
    void setProperty(const ObjectReference *object, Property property, const Value &value) override;
    Value runCommand(Command command, const std::optional<Value> &directParameter) override;
    void invalidateReadings() noexcept override
    {
        properties_.reset();
        retained_.clear();
    }

    // One track as the player described it.
    struct Track {
        std::string trackID;
        bool trackIDIsObjectPath = false;
        std::string url;
        std::string title;
        std::string artist;
        std::string album;
        std::int64_t lengthMicroseconds = 0;
        // What the position estimate knows the track by.
        std::string key() const { return url.empty() ? trackID : url; }
    };
    // Reads the MPRIS metadata dictionary, with the client's quirks: `mpris:trackid` as a string
    // or an object path, `mpris:length` as int64 or uint64. Nothing when no track is loaded.
    static std::optional<Track> parseMetadata(GVariant *metadata);

  private:
    GDBusConnection *bus();
    glib::VariantPtr call(const char *interface, const char *method, GVariant *parameters,
                          const GVariantType *replyType);
    GVariant *playerProperties();
    GVariant *playerProperty(const char *name);
    void setPlayerProperty(const char *name, GVariant *value);
    bool isPlaying();
    std::optional<Track> currentTrackInfo();
    double position(const Track &track);

    Application *owner_ = this;
    std::string busName_;
    SpotifyPositionEstimate estimate_;
    std::chrono::milliseconds timeout_{120000};
    glib::ObjectPtr<GDBusConnection> bus_;
    glib::VariantPtr properties_;
    // Values handed out from the cached properties, alive until the next reading.
    std::vector<glib::VariantPtr> retained_;
};

} // namespace wheelbox::osascript
