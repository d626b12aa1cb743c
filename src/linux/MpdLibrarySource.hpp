#pragma once

#include "lib/mpd/MpdConnection.hpp"
#include "platform/LibrarySource.hpp"

#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace wheelbox {

class MpdAlbumLocations;

struct MpdLibraryReadOptions {
    // How long to wait for each reply. Whole seconds: libmpdclient reads the rest as microseconds.
    std::chrono::milliseconds timeout{10'000};
    // Songs per `find … window` request. Pages keep every reply far below MPD's output buffer
    // limit, so a library of any size reads from an MPD with the default configuration.
    std::size_t pageSize = 4096;
};

// The library as MPD's database holds it: every song, and every stored playlist with the songs
// of it that are in the database. Song, album and playlist identifiers come from
// lib/mpd/MpdIdentity.hpp, so they match what the script stand-in reports. Used from one thread
// at a time; each open() uses a connection of its own.
class MpdLibrarySource final : public LibrarySource {
  public:
    // Where what could be read only in part is told, once each; standard error when not set.
    using Reporter = std::function<void(std::string_view message)>;

    // Reads from the MPD every client finds (MPD_HOST / MPD_PORT, the user's socket, localhost),
    // looked up again on every open().
    MpdLibrarySource() = default;
    explicit MpdLibrarySource(mpd::MpdAddress address, MpdLibraryReadOptions options = {},
                              Reporter report = {});

    // Throws LibrarySourceError, with a text that says what failed, when MPD cannot be reached or
    // refuses a command. Never returns a library cut short by a broken reply. A song with a tag too long for
    // a reply line is listed with the tags that can be read, and its file name as the title when the title is
    // the one too long; a song whose name is too long cannot be read or played and is left out; a stored
    // playlist keeps the entries before one too long.
    LibraryContents open() override;

    // True when the same MPD at the same address reported no database or stored-playlist change
    // since the last complete read began, runs no database update, and lists the stored playlists
    // with the same modification times: a few short exchanges on a connection kept from that read, each with
    // a two-second deadline. False after any failure, which the next open() then reports.
    bool isUnchangedSinceLastOpen() noexcept override;

    // Each read also records there where each album's cover is looked for.
    void recordAlbumLocations(std::shared_ptr<MpdAlbumLocations> locations)
    {
        albumLocations_ = std::move(locations);
    }

  private:
    // What the last complete read rests on. The watch is a connection made before that read began
    // and idling on MPD's database and stored-playlist events: MPD keeps, for each connection, the
    // events since its greeting and tells them when asked, and a restarted or another MPD cannot
    // hold it. Playlist files edited beside MPD raise no event, so their listing is compared too.
    struct LastRead {
        mpd::MpdAddress address;
        mpd::MpdConnection watch;
        std::vector<std::pair<std::string, std::time_t>> playlists;
    };

    void reportCutShort(const std::string &address, const std::vector<std::string> &songs,
                        std::size_t namesTooLong, const std::vector<std::string> &playlists);

    std::optional<mpd::MpdAddress> address_;
    MpdLibraryReadOptions options_;
    Reporter report_;
    // What was already told: a refresh does not tell it again.
    std::unordered_set<std::string> reported_;
    std::optional<LastRead> lastRead_;
    std::shared_ptr<MpdAlbumLocations> albumLocations_;
};

// The number a track or disc tag starts with: "3", "03" and "3/12" are 3; a tag that does not
// start with a number is 0.
int parseTagNumber(std::string_view tag) noexcept;

} // namespace wheelbox
