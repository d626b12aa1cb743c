#include "linux/LinuxArtwork.hpp"

#include "lib/glib/BusConnection.hpp"
#include "lib/glib/GLibPointers.hpp"
#include "lib/mpd/MpdIdentity.hpp"
#include "lib/mpd/MpdPicture.hpp"
#include "linux/ArtworkFiles.hpp"
#include "linux/ArtworkPicture.hpp"
#include "linux/MpdAlbumLocations.hpp"
#include "linux/MprisArtwork.hpp"
#include "model/PersistentID.hpp"

#include <sys/prctl.h>
#include <sys/socket.h>

#include <algorithm>

namespace wheelbox {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Songs remembered in memory; past this, those no longer asked about go.
constexpr std::size_t rememberedSongs = 4096;
// Album rows waiting for their covers; past this, the oldest are answered with nothing.
constexpr std::size_t waitingAlbums = 1024;

std::chrono::milliseconds left(SteadyClock::time_point deadline, std::chrono::milliseconds most)
{
    auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return std::clamp(remaining, std::chrono::milliseconds(1), most);
}

std::string songTag(const mpd_song *song, mpd_tag_type type)
{
    const char *value = mpd_song_get_tag(song, type, 0);
    return value ? value : "";
}

// The cover a song of MPD shares: its album's, by the library's album identifier; a song without
// an album tag has one of its own.
std::uint64_t coverOfSong(const mpd_song *song)
{
    const std::string uri = mpd_song_get_uri(song);
    const std::string album = songTag(song, MPD_TAG_ALBUM);
    if (album.empty())
        return mpd::songPersistentID(uri);
    return mpd::albumPersistentID(album, songTag(song, MPD_TAG_MUSICBRAINZ_ALBUMID),
                                  songTag(song, MPD_TAG_ALBUM_ARTIST), uri);
}

// A player's cover, by album and album artist where it names them (its address may differ from
// track to track); else by its address.
std::uint64_t coverOfTrack(const MprisTrackArtwork &track)
{
    if (!track.album.empty())
        return mpd::fnv1a64("mpris\x1f" + track.albumArtist + "\x1f" + track.album);
    if (!track.artUrl.empty())
        return mpd::fnv1a64("mpris-art\x1f" + track.artUrl);
    return mpd::fnv1a64("mpris-track\x1f" + track.url);
}

} // namespace

// What the thread reads with. The connections are the thread's; the destructor may only end
// their waits: shut the MPD socket and cancel the GIO calls.
//
// A watchdog shuts the MPD socket when a use of it outlives its deadline: libmpdclient's timeout
// starts again with every byte that arrives, so a server that trickles its answer, or sends lines
// without end, would otherwise hold the thread, and every cover after it, for good.
struct LinuxArtwork::Reader {
    std::optional<mpd::MpdConnection> mpd;
    glib::ObjectPtr<GDBusConnection> bus;
    glib::ObjectPtr<GCancellable> cancel{g_cancellable_new()};
    std::mutex socketLock; // guards the socket and the watch
    int socket = -1;
    std::optional<SteadyClock::time_point> watchedUntil;
    bool ended = false;
    std::condition_variable watchChanged;
    std::thread watchdog;

    Reader() : watchdog([this] { watch(); }) {}

    ~Reader()
    {
        {
            std::lock_guard guard(socketLock);
            ended = true;
        }
        watchChanged.notify_all();
        watchdog.join();
    }

    void dropMpd()
    {
        std::lock_guard guard(socketLock);
        socket = -1;
        mpd.reset();
    }

    void abort()
    {
        g_cancellable_cancel(cancel.get());
        std::lock_guard guard(socketLock);
        shutSocket();
    }

    // Until the returned object goes, the socket is shut at `deadline`.
    auto watchUntil(SteadyClock::time_point deadline)
    {
        {
            std::lock_guard guard(socketLock);
            watchedUntil = deadline;
        }
        watchChanged.notify_all();
        auto unwatch = [this](Reader *) {
            std::lock_guard guard(socketLock);
            watchedUntil.reset();
        };
        return std::unique_ptr<Reader, decltype(unwatch)>(this, unwatch);
    }

  private:
    // Lock held. Ends the MPD read under way; the connection then fails and is dropped.
    void shutSocket()
    {
        if (socket >= 0)
            ::shutdown(socket, SHUT_RDWR);
    }

    void watch()
    {
        std::unique_lock guard(socketLock);
        while (!ended) {
            if (!watchedUntil) {
                watchChanged.wait(guard);
            } else if (SteadyClock::now() < *watchedUntil) {
                watchChanged.wait_until(guard, *watchedUntil);
            } else {
                shutSocket();
                watchedUntil.reset();
            }
        }
    }
};

LinuxArtwork::LinuxArtwork(LinuxArtworkSettings settings)
    : settings_(std::move(settings)),
      cache_({.folder = settings_.cacheFolder, .byteLimit = settings_.cacheBytes, .clock = settings_.clock}),
      reader_(std::make_unique<Reader>())
{
    thread_ = std::thread([this] { run(); });
}

LinuxArtwork::~LinuxArtwork()
{
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    reader_->abort();
    thread_.join();
    for (auto &[key, waiters] : waiters_) {
        for (auto &waiter : waiters)
            waiter.done(std::nullopt);
    }
}

std::filesystem::path LinuxArtwork::userCacheFolder()
{
    return std::filesystem::path(g_get_user_cache_dir()) / "wheelbox" / "artwork";
}

std::optional<std::string> LinuxArtwork::nowPlayingArtwork(const NowPlayingState &reading,
                                                           ArtworkPlayer player)
{
    if (reading.source == "none" || !reading.persistentID || reading.persistentID->empty())
        return std::nullopt;
    std::string key = (player == ArtworkPlayer::spotify ? "spotify:" : "mpd:") + *reading.persistentID;
    const auto now = settings_.clock->uptime();
    std::unique_lock guard(lock_);
    auto found = songs_.find(key);
    if (found == songs_.end()) {
        if (songs_.size() >= rememberedSongs)
            std::erase_if(songs_,
                          [](const auto &entry) { return entry.second.stage != Song::Stage::reading; });
        found = songs_.emplace(key, Song{}).first;
        songJobs_.push_back({player, key, *reading.persistentID});
        guard.unlock();
        wake_.notify_all();
        return std::nullopt;
    }
    auto &song = found->second;
    switch (song.stage) {
    case Song::Stage::reading:
        return std::nullopt;
    case Song::Stage::unresolved:
        if (now < song.retryAt)
            return std::nullopt;
        break;
    case Song::Stage::known:
        if (song.readAhead) {
            // It plays now: the song after it is read ahead in turn.
            song.readAhead = false;
            songJobs_.push_back({player, key, *reading.persistentID, true});
            wake_.notify_all();
        }
        switch (cache_.state(song.cover)) {
        case ArtworkCache::State::present:
            return artworkAddress({song.cover, ArtworkSize::cover});
        case ArtworkCache::State::absent:
            return std::nullopt;
        case ArtworkCache::State::unknown:
            break; // gone from the cache since, or its absence expired
        }
        break;
    }
    song.stage = Song::Stage::reading;
    songJobs_.push_back({player, key, *reading.persistentID});
    guard.unlock();
    wake_.notify_all();
    return std::nullopt;
}

std::optional<std::string> LinuxArtwork::albumArtwork(std::uint64_t albumID)
{
    if (cache_.state(albumID) == ArtworkCache::State::absent)
        return std::nullopt;
    return artworkAddress({albumID, ArtworkSize::row});
}

void LinuxArtwork::setArrivalHandler(std::function<void()> handler)
{
    std::lock_guard guard(handlerLock_);
    arrivalHandler_ = std::move(handler);
}

void LinuxArtwork::arrived()
{
    // Called under the lock, so a handler being replaced is never called after.
    std::lock_guard guard(handlerLock_);
    if (arrivalHandler_)
        arrivalHandler_();
}

void LinuxArtwork::open(const ArtworkName &name, std::function<void(std::optional<ArtworkEntry>)> done)
{
    if (auto entry = cache_.read(name))
        return done(std::move(entry));
    // Only an album the library listed can be looked for; a cover of what played is read when it
    // plays.
    if (cache_.state(name.key) == ArtworkCache::State::absent || !settings_.albums ||
        !settings_.albums->songOf(name.key))
        return done(std::nullopt);
    std::vector<Waiter> dropped;
    {
        std::lock_guard guard(lock_);
        if (stopping_) {
            dropped.push_back({name.size, std::move(done)});
        } else {
            auto &waiters = waiters_[name.key];
            if (waiters.empty()) {
                albumJobs_.push_back(name.key);
                if (albumJobs_.size() > waitingAlbums) {
                    auto oldest = albumJobs_.front();
                    albumJobs_.erase(albumJobs_.begin());
                    auto found = waiters_.find(oldest);
                    dropped = std::move(found->second);
                    waiters_.erase(found);
                }
            }
            waiters_[name.key].push_back({name.size, std::move(done)});
        }
    }
    wake_.notify_all();
    for (auto &waiter : dropped)
        waiter.done(std::nullopt);
}

bool LinuxArtwork::isStopping()
{
    std::lock_guard guard(lock_);
    return stopping_;
}

void LinuxArtwork::run()
{
    ::prctl(PR_SET_NAME, "artwork");
    for (;;) {
        std::optional<SongJob> song;
        std::optional<std::uint64_t> album;
        {
            std::unique_lock guard(lock_);
            wake_.wait(guard, [&] { return stopping_ || !songJobs_.empty() || !albumJobs_.empty(); });
            if (stopping_)
                return;
            // What plays first; then the rows asked for last, those on screen now.
            if (!songJobs_.empty()) {
                song = std::move(songJobs_.front());
                songJobs_.pop_front();
            } else {
                album = albumJobs_.back();
                albumJobs_.pop_back();
            }
        }
        const auto deadline = SteadyClock::now() + settings_.readDeadline;
        try {
            if (song)
                runSong(*song, deadline);
            else
                runAlbum(*album, deadline);
        } catch (const std::exception &) {
            // Nothing read this time (MPD or the player did not answer in time); the song is asked
            // for again later, the row when it is shown again.
            if (song && !song->readAheadOnly)
                finishSong(song->key, std::nullopt);
            if (album)
                answerWaiters(*album);
        }
    }
}

void LinuxArtwork::withMpd(Deadline deadline, const std::function<void(mpd::MpdConnection &)> &use)
{
    auto &reader = *reader_;
    for (int attempt = 0;; ++attempt) {
        const bool fresh = !reader.mpd;
        if (fresh) {
            auto address = settings_.mpdAddress ? *settings_.mpdAddress : mpd::defaultMpdAddress();
            auto connection = mpd::MpdConnection::open(address, left(deadline, settings_.answerTimeout));
            {
                std::lock_guard guard(reader.socketLock);
                reader.socket = mpd_connection_get_fd(connection.get());
            }
            reader.mpd.emplace(std::move(connection));
            if (isStopping())
                throw mpd::MpdError("Stopped.", MPD_ERROR_CLOSED, std::nullopt);
            mpd::raiseBinaryLimit(*reader.mpd, settings_.chunkSize);
        }
        reader.mpd->setTimeout(left(deadline, settings_.answerTimeout));
        try {
            auto watched = reader.watchUntil(deadline);
            return use(*reader.mpd);
        } catch (const mpd::MpdError &error) {
            if (error.serverError() || error.error() == MPD_ERROR_ARGUMENT)
                throw;
            reader.dropMpd();
            // MPD closes a connection left idle; one made just now that fails is a real failure.
            if (fresh || attempt > 0 || SteadyClock::now() >= deadline)
                throw;
        }
    }
}

namespace {

using PictureSource = std::function<std::optional<std::vector<std::byte>>()>;

// Keeps the first picture of the sources that decodes. False when none has one. Throws when a
// source could not be asked (MPD gone, a download failed, the deadline passed): then nothing is
// known.
bool keepFirst(ArtworkCache &cache, std::uint64_t cover, std::initializer_list<PictureSource> sources)
{
    for (const auto &source : sources) {
        auto picture = source();
        if (!picture)
            continue;
        try {
            return cache.store(cover, scaleArtwork(*picture));
        } catch (const ArtworkPictureError &) {
            // A broken picture, or one in a format covers are not read in: try the next source.
        }
    }
    return false;
}

} // namespace

void LinuxArtwork::readMpdCover(std::uint64_t cover, const std::string &uri, Deadline deadline)
{
    auto fromMpd = [&](mpd::PictureCommand command) -> PictureSource {
        return [this, &uri, deadline, command] {
            std::optional<std::vector<std::byte>> picture;
            try {
                withMpd(deadline, [&](mpd::MpdConnection &connection) {
                    picture = mpd::readPicture(connection, command, uri, {.deadline = deadline});
                });
            } catch (const mpd::MpdError &error) {
                // A name MPD's protocol cannot carry has no picture to ask for.
                if (error.error() != MPD_ERROR_ARGUMENT)
                    throw;
            }
            return picture;
        };
    };
    PictureSource fromFolder = [&]() -> std::optional<std::vector<std::byte>> {
        if (!settings_.musicFolder)
            return std::nullopt;
        return readFolderArtwork(*settings_.musicFolder, uri, ArtworkPictureLimits{}.largestFile);
    };
    // A picture beside the songs before one inside a song, as MPD's clients have it.
    if (!keepFirst(
            cache_, cover,
            {fromMpd(mpd::PictureCommand::albumart), fromFolder, fromMpd(mpd::PictureCommand::readpicture)}))
        cache_.markAbsent(cover);
}

void LinuxArtwork::readPlayerCover(std::uint64_t cover, const std::string &artUrl, Deadline deadline)
{
    PictureSource picture = [&]() -> std::optional<std::vector<std::byte>> {
        if (artUrl.starts_with("file:"))
            return readArtworkFile(artUrl, artworkFileFolders(settings_.musicFolder),
                                   ArtworkPictureLimits{}.largestFile);
        auto download = settings_.download;
        download.timeout = left(deadline, download.timeout);
        return downloadArtwork(artUrl, download, reader_->cancel.get());
    };
    if (!keepFirst(cache_, cover, {picture}))
        cache_.markAbsent(cover);
}

void LinuxArtwork::runSong(const SongJob &job, Deadline deadline)
{
    if (job.readAheadOnly) {
        try {
            readNextSong(deadline);
        } catch (const std::exception &) {
        }
        return;
    }
    if (job.player == ArtworkPlayer::spotify) {
        auto &bus = reader_->bus;
        if (bus && g_dbus_connection_is_closed(bus.get()))
            bus.reset();
        if (!bus)
            bus = glib::connectBus(settings_.busAddress, left(deadline, settings_.answerTimeout));
        auto track = readMprisArtwork(bus.get(), settings_.spotifyBusName,
                                      left(deadline, settings_.answerTimeout), reader_->cancel.get());
        // Another track plays by now: this one is asked for again when it is read.
        if (!track || track->url != job.persistentID)
            return finishSong(job.key, std::nullopt);
        const auto cover = coverOfTrack(*track);
        // A player may name the picture a moment after the track: none yet says nothing of the
        // album's cover, which stands where it is known.
        if (track->artUrl.empty()) {
            const bool known = cache_.state(cover) == ArtworkCache::State::present;
            return finishSong(job.key, known ? std::optional(cover) : std::nullopt);
        }
        if (cache_.state(cover) == ArtworkCache::State::unknown)
            readPlayerCover(cover, track->artUrl, deadline);
        return finishSong(job.key, cover);
    }

    std::string uri;
    std::optional<std::uint64_t> cover;
    withMpd(deadline, [&](mpd::MpdConnection &connection) {
        mpd::SongPtr current(mpd_run_current_song(connection.get()));
        connection.check();
        if (!current)
            return;
        uri = mpd_song_get_uri(current.get());
        if (formatPersistentID(mpd::songPersistentID(uri)) == job.persistentID)
            cover = coverOfSong(current.get());
    });
    // Another song plays by now: this one is asked for again when it is read.
    if (!cover)
        return finishSong(job.key, std::nullopt);
    if (cache_.state(*cover) == ArtworkCache::State::unknown)
        readMpdCover(*cover, uri, deadline);
    finishSong(job.key, cover);
    try {
        readNextSong(deadline);
    } catch (const std::exception &) {
        // Nothing read ahead: the next song is read when it plays.
    }
}

void LinuxArtwork::readNextSong(Deadline deadline)
{
    std::string uri;
    std::optional<std::uint64_t> cover;
    withMpd(deadline, [&](mpd::MpdConnection &connection) {
        mpd::StatusPtr status(mpd_run_status(connection.get()));
        connection.check();
        const int next = status ? mpd_status_get_next_song_pos(status.get()) : -1;
        if (next < 0)
            return;
        mpd::SongPtr song(mpd_run_get_queue_song_pos(connection.get(), static_cast<unsigned>(next)));
        connection.check();
        if (!song)
            return;
        uri = mpd_song_get_uri(song.get());
        cover = coverOfSong(song.get());
    });
    if (!cover)
        return;
    const std::string key = "mpd:" + formatPersistentID(mpd::songPersistentID(uri));
    {
        std::lock_guard guard(lock_);
        if (songs_.contains(key))
            return;
        // Known before it plays; should its cover not be read now, the song is asked for as usual.
        songs_[key] = Song{Song::Stage::known, *cover, {}, true};
    }
    if (cache_.state(*cover) == ArtworkCache::State::unknown)
        readMpdCover(*cover, uri, deadline);
}

void LinuxArtwork::runAlbum(std::uint64_t key, Deadline deadline)
{
    auto uri = settings_.albums ? settings_.albums->songOf(key) : std::nullopt;
    if (uri && cache_.state(key) == ArtworkCache::State::unknown)
        readMpdCover(key, *uri, deadline);
    answerWaiters(key);
}

void LinuxArtwork::finishSong(const std::string &key, std::optional<std::uint64_t> cover)
{
    {
        std::lock_guard guard(lock_);
        auto found = songs_.find(key);
        if (found == songs_.end())
            return;
        if (cover) {
            found->second.stage = Song::Stage::known;
            found->second.cover = *cover;
        } else {
            found->second.stage = Song::Stage::unresolved;
            found->second.retryAt = settings_.clock->uptime() + settings_.retryAfter;
        }
    }
    if (cover && cache_.state(*cover) == ArtworkCache::State::present)
        arrived();
}

void LinuxArtwork::answerWaiters(std::uint64_t key)
{
    std::vector<Waiter> waiters;
    {
        std::lock_guard guard(lock_);
        auto found = waiters_.find(key);
        if (found == waiters_.end())
            return;
        waiters = std::move(found->second);
        waiters_.erase(found);
    }
    for (auto &waiter : waiters)
        waiter.done(cache_.read({key, waiter.size}));
}

} // namespace wheelbox
