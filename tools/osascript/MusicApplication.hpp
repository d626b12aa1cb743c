#pragma once

#include "Application.hpp"
#include "lib/mpd/MpdConnection.hpp"
#include "lib/mpd/MpdTagByTag.hpp"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace wheelbox::osascript {

class SongIndex;

// The "Music" application on MPD. The connection opens on the first request, so a program that
// never asks anything costs nothing. Readings of the player (its status and current song, taken in
// one exchange) are kept until a command changes the player or the script waits.
class MusicApplication final : public Application {
  public:
    explicit MusicApplication(mpd::MpdAddress address);
    ~MusicApplication() override;

    std::string_view name() const noexcept override { return "Music"; }
    void setTimeout(std::chrono::milliseconds timeout) override;

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
    void invalidateReadings() noexcept override;
    void finish() override;

    // The song's tags, read once per track reference.
    struct SongTags {
        std::string title;
        std::string artist;
        std::string album;
        double duration = 0;
    };
    SongTags readTags(const std::string &uri);

  private:
    // What the player shows at one moment.
    struct Reading {
        mpd::StatusPtr status;
        // MPD's current song; none once the queue has played out.
        mpd::SongPtr song;
        // The song that played last when MPD has no current one, once looked up (may be none).
        std::optional<mpd::SongPtr> lastPlayed;
    };

    const mpd::MpdConnection &connection();
    // Runs one libmpdclient exchange and turns its failure into Music's words.
    template <typename Function> auto request(Function &&exchange);
    Reading readPlayer();
    // The first song the reply to `send` lists, or none. A song with a line too long for
    // libmpdclient is read again, one tag at a time, on a new connection.
    mpd::SongPtr receiveSong(const mpd::SongRequest &send);
    mpd::SongPtr readAgain(const mpd::SongRequest &send);
    // The kept reading, else a new one taken once MPD's decoder has settled.
    Reading &reading();
    Reading &settledReading(std::chrono::milliseconds patience);
    mpd_status &status() { return *reading().status; }
    // The current song as a player has it, or none; its queue position, or -1.
    const mpd_song *currentSong();
    int currentPosition();
    // Runs a command that hands a song to MPD's decoder, and waits for the outcome.
    template <typename Start> void startPlayback(Start &&start);
    void changePlayer();
    void flushAdditions();

    Value currentTrack();
    Value trackProperty(const ObjectReference &track, Property property);
    std::vector<std::string> playlistNames();
    bool playlistExists(const std::string &name);
    bool songExists(const std::string &uri);
    const SongIndex &songIndex();
    std::string anySongURI();
    void play(const std::optional<Value> &target);
    void skip(int direction);
    void scan(int direction);

    mpd::MpdAddress address_;
    std::chrono::milliseconds timeout_{120000};
    std::optional<mpd::MpdConnection> connection_;
    std::optional<Reading> reading_;
    std::unique_ptr<SongIndex> songIndex_;
    // Tracks duplicated into playlists and not sent yet: (playlist, song URI).
    std::vector<std::pair<std::string, std::string>> pendingAdditions_;
};

} // namespace wheelbox::osascript
