#pragma once

#include "Application.hpp"
#include "MprisPlayer.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// Stand-ins for the players behind wheelbox-osascript, so a fuzzed program runs the whole language
// and the object model without MPD or D-Bus: a music app held in memory, and an MPRIS player for
// the real Spotify application.
namespace wheelbox::osascript::fuzz {

// A small music library and player in memory: tracks, the library playlist and user playlists that
// scripts make, fill, play and delete.
class FakeMusic final : public Application {
  public:
    FakeMusic();

    std::string_view name() const noexcept override { return "Music"; }
    void setTimeout(std::chrono::milliseconds) override {}

    Value getProperty(const ObjectReference *object, Property property) override;
    void setProperty(const ObjectReference *object, Property property, const Value &value) override;
    Value runCommand(Command command, const std::optional<Value> &directParameter) override;
    Value element(const ObjectReference *container, ElementClass elementClass, const Value &key) override;
    Value everyElement(const ObjectReference *container, ElementClass elementClass,
                       const std::optional<ElementFilter> &filter) override;
    bool exists(const ObjectReference &object) override;
    Value make(ElementClass elementClass, const Record &properties) override;
    Value duplicate(const ObjectReference &object, const ObjectReference &to) override;
    void remove(const ObjectReference &object) override;

    struct Track {
        std::string persistentID;
        std::string name;
        std::string artist;
        std::string album;
        double duration = 0;
    };
    struct Playlist {
        std::string persistentID;
        std::string name;
        std::vector<std::size_t> tracks;
    };

  private:
    Value trackValue(std::size_t index);
    Value playlistValue(std::optional<std::size_t> userIndex);
    // The tracks a playlist object holds; the library playlist when `object` is none.
    const std::vector<std::size_t> &tracksOf(const ObjectReference *object);
    Playlist *userPlaylist(const ObjectReference &object);

    std::vector<Track> tracks_;
    std::vector<std::size_t> library_;
    std::vector<Playlist> playlists_;
    int nextPlaylist_ = 1;
    std::optional<std::size_t> current_;
    std::string state_ = "stopped";
    double position_ = 0;
    std::int64_t volume_ = 50;
    bool shuffle_ = false;
    std::string repeat_ = "off";
};

// An MPRIS player that plays one of two tracks and follows the commands it gets.
class FakeMprisPlayer final : public MprisPlayer {
  public:
    FakeMprisPlayer();

    MprisPlayerState read(std::chrono::milliseconds timeout) override;
    void call(const char *method, std::chrono::milliseconds timeout) override;
    void setPosition(const std::string &trackPath, std::int64_t microseconds,
                     std::chrono::milliseconds timeout) override;
    void seek(std::int64_t offsetMicroseconds, std::chrono::milliseconds timeout) override;
    void setVolume(double volume, std::chrono::milliseconds timeout) override;
    void setShuffle(bool shuffle, std::chrono::milliseconds timeout) override;
    void setLoopStatus(const char *status, std::chrono::milliseconds timeout) override;

  private:
    std::vector<MprisTrack> tracks_;
    std::size_t current_ = 0;
    MprisPlayerState state_;
};

} // namespace wheelbox::osascript::fuzz
