#pragma once

#include "lib/mpd/MpdConnection.hpp"
#include "linux/ArtworkCache.hpp"
#include "linux/ArtworkDownload.hpp"
#include "platform/Artwork.hpp"
#include "platform/Clock.hpp"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace wheelbox {

class MpdAlbumLocations;

struct LinuxArtworkSettings {
    // $XDG_CACHE_HOME/wheelbox/artwork in the program.
    std::filesystem::path cacheFolder = {};
    std::uint64_t cacheBytes = 96ull * 1024 * 1024;
    // The MPD songs are played through; absent: the one every client finds, looked up each time.
    std::optional<mpd::MpdAddress> mpdAddress = std::nullopt;
    // The music folder of the MPD the program runs itself: pictures named folder.*, front.* or
    // cover.* beside the songs are read from it too. Absent for any other MPD, whose folder may
    // be elsewhere.
    std::optional<std::filesystem::path> musicFolder = std::nullopt;
    // Where an album row's cover is looked for; without it only what plays gets a cover read.
    std::shared_ptr<const MpdAlbumLocations> albums = nullptr;
    // Spotify's MPRIS player: its bus (absent: the session bus) and name.
    std::optional<std::string> busAddress = std::nullopt;
    std::string spotifyBusName = "org.mpris.MediaPlayer2.spotify";
    ArtworkDownloadSettings download = {};
    // Each MPD or D-Bus answer, and the whole read of one cover.
    std::chrono::milliseconds answerTimeout{5'000};
    std::chrono::milliseconds readDeadline{20'000};
    // A song whose album could not be told (it no longer played, MPD did not answer) is asked
    // for again after this long, never on every poll.
    std::chrono::milliseconds retryAfter{10'000};
    // MPD is asked for chunks this large where it takes "binarylimit".
    std::size_t chunkSize = 1024 * 1024;
    const Clock *clock = &Clock::system();
};

// The covers of the program: what plays and the albums the lists show, read on a thread of their
// own ("artwork") and kept in an ArtworkCache.
//
// A song played through MPD: MPD's current song tells its album (the library's album identifier,
// or the song itself when it has no album); the album's cover is MPD's "albumart" (a cover.* beside
// it), else, for the program's own MPD, a folder.*, front.* or cover.* of any letter case read from
// the music folder, else MPD's "readpicture" (the picture in the file), on a connection of this
// thread's own with the chunk size raised. A song Spotify plays: the player's mpris:artUrl, a file:
// address read from disk (ArtworkFiles) or an https: one downloaded (ArtworkDownload), keyed by its
// album and album artist. Album rows: the album's cover, looked up through a song of it.
//
// The media worker's questions and the scheme's are answered from memory and the cache; a cover
// not there yet is queued, what plays before any row, rows newest first (those on screen now).
// Every wait is bounded; destroying the object ends the read under way at once.
class LinuxArtwork final : public ArtworkSource, public ArtworkEntries {
  public:
    explicit LinuxArtwork(LinuxArtworkSettings settings);
    ~LinuxArtwork() override;
    LinuxArtwork(const LinuxArtwork &) = delete;
    LinuxArtwork &operator=(const LinuxArtwork &) = delete;

    // $XDG_CACHE_HOME/wheelbox/artwork.
    static std::filesystem::path userCacheFolder();

    std::optional<std::string> nowPlayingArtwork(const NowPlayingState &reading,
                                                 ArtworkPlayer player) override;
    std::optional<std::string> albumArtwork(std::uint64_t albumID) override;
    void setArrivalHandler(std::function<void()> handler) override;
    void open(const ArtworkName &name, std::function<void(std::optional<ArtworkEntry>)> done) override;

    ArtworkCache &cache() noexcept { return cache_; }

  private:
    struct Reader;
    struct SongJob {
        ArtworkPlayer player;
        std::string key; // of songs_
        std::string persistentID;
        // The song's cover is known already: only the song after it is read ahead.
        bool readAheadOnly = false;
    };
    struct Song {
        enum class Stage { reading, known, unresolved } stage = Stage::reading;
        std::uint64_t cover = 0;
        std::chrono::nanoseconds retryAt{};
        // Read ahead before it played: when it first plays, the song after it is read ahead.
        bool readAhead = false;
    };
    struct Waiter {
        ArtworkSize size;
        std::function<void(std::optional<ArtworkEntry>)> done;
    };

    using Deadline = std::chrono::steady_clock::time_point;

    void run();
    bool isStopping();
    void runSong(const SongJob &job, Deadline deadline);
    void runAlbum(std::uint64_t key, Deadline deadline);
    // Reads the cover of an MPD song into the cache, or marks it absent when no source has one.
    void readMpdCover(std::uint64_t cover, const std::string &uri, Deadline deadline);
    // Reads ahead the cover of the song MPD plays next, and remembers that song's album, so a skip
    // to it finds its cover in the reading that names it.
    void readNextSong(Deadline deadline);
    void readPlayerCover(std::uint64_t cover, const std::string &artUrl, Deadline deadline);
    // Runs `use` on this thread's MPD connection, opened when there is none. A connection MPD
    // closed while it was idle is opened again, once.
    void withMpd(Deadline deadline, const std::function<void(mpd::MpdConnection &)> &use);
    void finishSong(const std::string &key, std::optional<std::uint64_t> cover);
    void answerWaiters(std::uint64_t key);
    void arrived();

    LinuxArtworkSettings settings_;
    ArtworkCache cache_;

    std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::unordered_map<std::string, Song> songs_;
    std::deque<SongJob> songJobs_;
    std::vector<std::uint64_t> albumJobs_; // newest last
    std::unordered_map<std::uint64_t, std::vector<Waiter>> waiters_;

    std::mutex handlerLock_;
    std::function<void()> arrivalHandler_;

    // What the thread reads with; only the thread touches it, but the destructor ends its waits.
    std::unique_ptr<Reader> reader_;
    std::thread thread_;
};

} // namespace wheelbox
