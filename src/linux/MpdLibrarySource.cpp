#include "linux/MpdLibrarySource.hpp"

#include "lib/mpd/MpdArgument.hpp"
#include "lib/mpd/MpdIdentity.hpp"
#include "lib/mpd/MpdSongTitle.hpp"
#include "lib/mpd/MpdTagByTag.hpp"
#include "lib/posix/BrokenPipe.hpp"
#include "linux/MpdAlbumLocations.hpp"

#include <strings.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <iostream>
#include <limits>
#include <optional>
#include <ranges>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace wheelbox {
namespace {

using mpd::describe;
using mpd::MpdConnection;
using mpd::MpdError;

// Every song below the music folder's root.
constexpr const char *everySong = "(base '')";

// The database can change between two pages (an update finished); the read then starts over.
constexpr int readAttempts = 3;

// What a change of the library raises on the watch.
constexpr auto watchedEvents = static_cast<mpd_idle>(MPD_IDLE_DATABASE | MPD_IDLE_STORED_PLAYLIST);

// MPD answers on the watch at once; one silent this long (a peer gone without a word, a server
// that hangs) counts as lost, and the library is read in full.
constexpr std::chrono::milliseconds watchTimeout{2000};

using PlaylistStamps = std::vector<std::pair<std::string, std::time_t>>;

// The stored playlists and their modification times, as MPD lists them now.
PlaylistStamps listPlaylists(const MpdConnection &connection)
{
    PlaylistStamps playlists;
    if (!mpd_send_list_playlists(connection.get()))
        connection.check();
    while (mpd::PlaylistPtr playlist{mpd_recv_playlist(connection.get())})
        playlists.emplace_back(mpd_playlist_get_path(playlist.get()),
                               mpd_playlist_get_last_modified(playlist.get()));
    connection.check();
    mpd_response_finish(connection.get());
    connection.check();
    return playlists;
}

// Only the tags the library uses travel: a large library's replies stay small.
constexpr mpd_tag_type usedTags[] = {
    MPD_TAG_TITLE, MPD_TAG_ARTIST, MPD_TAG_ALBUM, MPD_TAG_ALBUM_ARTIST,
    MPD_TAG_TRACK, MPD_TAG_DISC,   MPD_TAG_GENRE, MPD_TAG_MUSICBRAINZ_ALBUMID};

// Seconds as MPD writes them ("215.373"); 0 for anything else.
double parseDuration(std::string_view text) noexcept
{
    double seconds = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(seconds) && seconds > 0
               ? seconds
               : 0;
}

// The tags of one song as the reply lists them; a tag given more than once keeps its first value.
struct SongTags {
    std::string uri;
    std::string title, artist, album, albumArtist, track, disc, genre, musicBrainzAlbumID;
    // MPD's "duration" in seconds, not a tag: it comes whatever the tag types.
    double duration = 0;

    void add(std::string_view name, const char *value)
    {
        if (auto *field = fieldFor(name); field && field->empty())
            *field = value;
        else if (name == "duration")
            duration = parseDuration(value);
    }

  private:
    std::string *fieldFor(std::string_view name)
    {
        struct Entry {
            mpd_tag_type type;
            std::string SongTags::*field;
        };
        static constexpr Entry entries[] = {
            {MPD_TAG_TITLE, &SongTags::title}, {MPD_TAG_ARTIST, &SongTags::artist},
            {MPD_TAG_ALBUM, &SongTags::album}, {MPD_TAG_ALBUM_ARTIST, &SongTags::albumArtist},
            {MPD_TAG_TRACK, &SongTags::track}, {MPD_TAG_DISC, &SongTags::disc},
            {MPD_TAG_GENRE, &SongTags::genre}, {MPD_TAG_MUSICBRAINZ_ALBUMID, &SongTags::musicBrainzAlbumID},
        };
        static const auto names = [] {
            std::array<std::string_view, std::size(entries)> result;
            for (std::size_t i = 0; i < result.size(); ++i)
                result[i] = mpd_tag_name(entries[i].type);
            return result;
        }();
        // Compared as libmpdclient compares tag names: ignoring case.
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i].size() == name.size() && strncasecmp(names[i].data(), name.data(), name.size()) == 0)
                return &(this->*entries[i].field);
        }
        return nullptr;
    }
};

// What a file name shows in a log line: quoted, with quotes, backslashes and control characters
// escaped, so a name cannot break the line or pass for another.
std::string printable(std::string_view text)
{
    std::string result = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            result += '\\';
            result += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            constexpr char digits[] = "0123456789abcdef";
            result += "\\x";
            result += digits[byte >> 4];
            result += digits[byte & 0xf];
        } else {
            result += c;
        }
    }
    return result + "\"";
}

// One read of the library over one connection, opened again after a reply line too long for
// libmpdclient; turns every MPD failure into a LibrarySourceError.
class LibraryReader {
  public:
    LibraryReader(const mpd::MpdAddress &address, const MpdLibraryReadOptions &options)
        : address_(address), description_(describe(address)), options_(options),
          connection_(connect(address, options))
    {
        limitTags();
    }

    // The songs' URIs, in the order of the songs, come out in `uris`.
    std::optional<LibraryContents> readConsistently(std::vector<std::string> &uris)
    {
        cutShort_.clear();
        namesTooLong_ = 0;
        playlistsCutShort_.clear();
        playlistStamps_.clear();
        auto before = databaseUpdateTime();
        LibraryContents contents;
        uris.clear();
        readSongs(contents.songs, uris);
        readPlaylists(contents.playlists, uris);
        if (databaseUpdateTime() != before)
            return std::nullopt;
        return contents;
    }

    const std::string &description() const noexcept { return description_; }
    // Of the last read: the songs listed with only part of their tags, how many songs were left
    // out because not even their name could be read, and the playlists listed with only part of
    // their entries.
    const std::vector<std::string> &cutShort() const noexcept { return cutShort_; }
    std::size_t namesTooLong() const noexcept { return namesTooLong_; }
    const std::vector<std::string> &playlistsCutShort() const noexcept { return playlistsCutShort_; }
    // The stored playlists as the last read listed them, with their modification times.
    const PlaylistStamps &playlistStamps() const noexcept { return playlistStamps_; }

  private:
    static constexpr std::string_view listingSongs = "list the songs";

    // How a read of the songs at a range of positions ended.
    struct RangeRead {
        // Songs received whole, from the range's first.
        std::size_t received = 0;
        // A reply line was too long for libmpdclient, and the connection is gone.
        bool lineTooLong = false;
        // Then: the song whose lines were arriving, when its name had arrived.
        std::string pending;
    };

    static MpdConnection connect(const mpd::MpdAddress &address, const MpdLibraryReadOptions &options)
    {
        try {
            return MpdConnection::open(address, options.timeout);
        } catch (const MpdError &error) {
            throw LibrarySourceError("Can\u2019t reach MPD at " + describe(address) + ": " + error.what());
        }
    }

    void reconnect()
    {
        connection_ = connect(address_, options_);
        limitTags();
    }

    [[noreturn]] void fail(const MpdError &error, std::string_view doing) const
    {
        if (error.serverError())
            throw LibrarySourceError("MPD at " + description_ + " refused to " + std::string(doing) + ": " +
                                     error.what());
        throw LibrarySourceError("Lost MPD at " + description_ + " while trying to " + std::string(doing) +
                                 ": " + error.what());
    }

    void check(std::string_view doing) const
    {
        try {
            connection_.check();
        } catch (const MpdError &error) {
            fail(error, doing);
        }
    }

    // Ends a reply whose items were all received; a reply cut short is an error, never a result.
    void finish(std::string_view doing) const
    {
        check(doing);
        mpd_response_finish(connection_.get());
        check(doing);
    }

    void limitTags()
    {
        auto *connection = connection_.get();
        // An MPD too old for "tagtypes clear" refuses it and simply sends every tag.
        if (!mpd_run_clear_tag_types(connection)) {
            refusalIsHarmless("choose the tags to read");
            return;
        }
        // One of them may be switched off in MPD's configuration; with none enabled every title
        // would be missing, so go back to all of them.
        if (!mpd_run_enable_tag_types(connection, usedTags, std::size(usedTags))) {
            refusalIsHarmless("choose the tags to read");
            mpd_run_all_tag_types(connection);
            check("choose the tags to read");
        }
    }

    // After a refused command the connection is still good; any other failure ends the read.
    void refusalIsHarmless(std::string_view doing) const
    {
        try {
            connection_.check();
        } catch (const MpdError &error) {
            if (!error.serverError())
                fail(error, doing);
        }
    }

    std::time_t databaseUpdateTime()
    {
        mpd::StatsPtr stats(mpd_run_stats(connection_.get()));
        check("read the database statistics");
        return stats ? mpd_stats_get_db_update_time(stats.get()) : 0;
    }

    void readSongs(std::vector<LibrarySong> &songs, std::vector<std::string> &uris)
    {
        auto pageSize = std::max<std::size_t>(options_.pageSize, 1);
        for (std::size_t start = 0;; start += pageSize) {
            if (start + pageSize > std::numeric_limits<unsigned>::max())
                throw LibrarySourceError("MPD at " + description_ + " holds too many songs");
            auto add = [&](SongTags &tags) {
                songs.push_back(librarySong(tags));
                uris.push_back(std::move(tags.uri));
            };
            if (readPage(start, start + pageSize, add) < pageSize)
                return;
        }
    }

    // Reads the songs at positions [start, end) and returns how many positions held one. A song
    // with a line too long for libmpdclient ends the reply and the connection with it: the songs
    // before it are in, and the read goes on after it on a new connection.
    template <typename Add> std::size_t readPage(std::size_t start, std::size_t end, Add &add)
    {
        auto read = readRange(start, end, add);
        auto position = start + read.received;
        while (read.lineTooLong) {
            reconnect();
            if (read.pending.empty()) {
                // Not even its name came: a song that can be neither listed nor played.
                ++namesTooLong_;
            } else {
                readAlone(position, std::move(read.pending), add);
            }
            if (++position >= end)
                return end - start;
            read = readRange(position, end, add);
            position += read.received;
        }
        return position - start;
    }

    // The song at `position`, whose reply broke off while it arrived: whole when the line too long
    // was in fact the next song's name, else with each of its tags that fits a line.
    template <typename Add> void readAlone(std::size_t position, std::string uri, Add &add)
    {
        if (!readSong(position, uri, add).lineTooLong)
            return;
        SongTags tags;
        tags.uri = uri;
        auto request = [&](mpd_connection *connection) {
            try {
                return mpd_send_list_meta(connection, mpd::argument(uri));
            } catch (const MpdError &) {
                return sendRange(connection, position, position + 1);
            }
        };
        try {
            auto song = mpd::readSongTagByTag(
                connection_, [&] { return connect(address_, options_); }, usedTags, request);
            // The database changed meanwhile (the read will start over): not this song. Gone, or
            // an MPD too old to send tags one at a time: it goes by its file name, as untagged.
            if (song && mpd_song_get_uri(song.get()) == uri) {
                for (auto tag : usedTags) {
                    if (const char *value = mpd_song_get_tag(song.get(), tag, 0))
                        tags.add(mpd_tag_name(tag), value);
                }
                tags.duration = mpd_song_get_duration_ms(song.get()) / 1000.0;
            }
        } catch (const MpdError &error) {
            fail(error, listingSongs);
        }
        limitTags();
        add(tags);
        cutShort_.push_back(std::move(uri));
    }

    // Asks for the songs at positions [start, end); false when the request could not be sent.
    static bool sendRange(mpd_connection *connection, std::size_t start, std::size_t end)
    {
        if (mpd_search_db_songs(connection, true) && mpd_search_add_expression(connection, everySong) &&
            mpd_search_add_window(connection, static_cast<unsigned>(start), static_cast<unsigned>(end)) &&
            mpd_search_commit(connection))
            return true;
        mpd_search_cancel(connection);
        return false;
    }

    // Reads the songs at positions [start, end), handing each whole song to `add`.
    template <typename Add> RangeRead readRange(std::size_t start, std::size_t end, Add &add)
    {
        if (!sendRange(connection_.get(), start, end))
            check(listingSongs);
        return receiveSongs(add);
    }

    // Reads the song at `position` by its name (`uri`): MPD looks a name up at once, where for a
    // window it walks the database up to the song.
    template <typename Add> RangeRead readSong(std::size_t position, const std::string &uri, Add &add)
    {
        const char *name = nullptr;
        try {
            name = mpd::argument(uri);
        } catch (const MpdError &) {
            // A name with a carriage return cannot travel as an argument.
            return readRange(position, position + 1, add);
        }
        if (!mpd_send_list_meta(connection_.get(), name))
            check(listingSongs);
        return receiveSongs(add);
    }

    // The songs of a `find` or `lsinfo` reply, each handed to `add` once its lines are all in.
    template <typename Add> RangeRead receiveSongs(Add &add)
    {
        constexpr std::string_view doing = listingSongs;
        auto *connection = connection_.get();
        RangeRead read;
        SongTags tags;
        // Read pair by pair: building an mpd_song parses every line, including a date whose
        // conversion stats /etc/localtime each time, and cost most of a large read's time.
        while (auto *pair = mpd_recv_pair(connection)) {
            std::string_view name = pair->name;
            if (name == "file") {
                if (!tags.uri.empty()) {
                    add(tags);
                    ++read.received;
                    tags = SongTags();
                }
                tags.uri = pair->value;
            } else if (!tags.uri.empty()) {
                tags.add(name, pair->value);
            }
            mpd_return_pair(connection, pair);
        }
        try {
            connection_.check();
        } catch (const MpdError &error) {
            // A song looked up by name and deleted since it was listed: the database changed, and
            // the read starts over.
            if (error.serverError() == MPD_SERVER_ERROR_NO_EXIST)
                return read;
            if (!error.isLineTooLong())
                fail(error, doing);
            read.lineTooLong = true;
            read.pending = std::move(tags.uri);
            return read;
        }
        finish(doing);
        if (!tags.uri.empty()) {
            add(tags);
            ++read.received;
        }
        return read;
    }

    static LibrarySong librarySong(const SongTags &tags)
    {
        auto optional = [](const std::string &value) {
            return value.empty() ? std::nullopt : std::optional<std::string>(value);
        };
        LibrarySong song;
        song.persistentID = mpd::songPersistentID(tags.uri);
        song.mediaKind = LibraryMediaKind::song;
        // An untagged file goes by its file name, as in the player.
        song.title = tags.title.empty() ? mpd::songFileTitle(tags.uri) : tags.title;
        song.artistName = optional(tags.artist);
        song.album.title = optional(tags.album);
        song.album.persistentID =
            mpd::albumPersistentID(tags.album, tags.musicBrainzAlbumID, tags.albumArtist, tags.uri);
        song.album.discNumber = parseTagNumber(tags.disc);
        song.album.artistName = optional(tags.albumArtist);
        song.genre = optional(tags.genre);
        song.trackNumber = parseTagNumber(tags.track);
        song.duration = tags.duration;
        return song;
    }

    void readPlaylists(std::vector<LibraryPlaylist> &playlists, const std::vector<std::string> &uris)
    {
        try {
            playlistStamps_ = listPlaylists(connection_);
        } catch (const MpdError &error) {
            fail(error, "list the stored playlists");
        }
        if (playlistStamps_.empty())
            return;

        std::unordered_map<std::string_view, std::size_t> positions;
        positions.reserve(uris.size());
        for (std::size_t i = 0; i < uris.size(); ++i)
            positions.emplace(uris[i], i);

        for (auto name : playlistStamps_ | std::views::keys) {
            // A name no command could carry names no playlist that can be read.
            if (!mpd::isValidPlaylistName(name))
                continue;
            auto doing = "read the stored playlist \"" + name + "\"";
            auto *connection = connection_.get();
            LibraryPlaylist playlist;
            if (!mpd_send_list_playlist(connection, mpd::argument(name)))
                check(doing);
            while (auto *pair = mpd_recv_pair_named(connection, "file")) {
                // Entries no longer in the database (deleted files, streams) have no song to be.
                if (auto found = positions.find(pair->value); found != positions.end())
                    playlist.items.push_back(found->second);
                mpd_return_pair(connection, pair);
            }
            try {
                connection_.check();
                mpd_response_finish(connection);
                connection_.check();
            } catch (const MpdError &error) {
                // Deleted since it was listed: it is simply not part of this snapshot.
                if (error.serverError() == MPD_SERVER_ERROR_NO_EXIST)
                    continue;
                if (!error.isLineTooLong())
                    fail(error, doing);
                // An entry longer than a line (a stream's address with a long query) ends the
                // reply, and MPD 0.23 cannot list a playlist from a position on: the playlist
                // keeps the entries before it.
                reconnect();
                playlistsCutShort_.push_back(name);
            }
            playlist.persistentID = mpd::playlistPersistentID(name);
            playlist.name = std::move(name);
            playlist.isVisible = true;
            playlist.isPrimary = false;
            playlist.distinguishedKind = LibraryDistinguishedKind::none;
            playlist.kind = LibraryPlaylistKind::regular;
            playlists.push_back(std::move(playlist));
        }
    }

    mpd::MpdAddress address_;
    std::string description_;
    MpdLibraryReadOptions options_;
    MpdConnection connection_;
    std::vector<std::string> cutShort_;
    std::size_t namesTooLong_ = 0;
    std::vector<std::string> playlistsCutShort_;
    PlaylistStamps playlistStamps_;
};

// A watch for the read about to begin; none when MPD cannot be reached or will not idle (the
// read says what is wrong, and the next reload reads in full).
std::optional<MpdConnection> startWatch(const mpd::MpdAddress &address)
{
    try {
        auto watch = MpdConnection::open(address, watchTimeout);
        // Idling spares it MPD's time limit for silent connections.
        if (mpd_send_idle_mask(watch.get(), watchedEvents))
            return watch;
    } catch (const std::exception &) {
    }
    return std::nullopt;
}

// Whether the watch heard of no change, no database update is under way (it changes songs
// before MPD tells of it) and MPD still lists `playlists`; then it idles again.
bool isQuiet(const MpdConnection &watch, const PlaylistStamps &playlists)
{
    auto events = mpd_run_noidle(watch.get());
    watch.check();
    if (events != 0)
        return false;
    mpd::StatusPtr status(mpd_run_status(watch.get()));
    watch.check();
    if (!status || mpd_status_get_update_id(status.get()) != 0)
        return false;
    return listPlaylists(watch) == playlists && mpd_send_idle_mask(watch.get(), watchedEvents);
}

} // namespace

MpdLibrarySource::MpdLibrarySource(mpd::MpdAddress address, MpdLibraryReadOptions options, Reporter report)
    : address_(std::move(address)), options_(options), report_(std::move(report))
{}

LibraryContents MpdLibrarySource::open()
{
    // An MPD that quits mid-read must not take the program with it.
    posix::SigpipeGuard sigpipe;
    // A read that fails leaves nothing a later one could stand on.
    lastRead_.reset();
    auto address = address_ ? *address_ : mpd::defaultMpdAddress();
    LibraryReader reader(address, options_);
    std::vector<std::string> uris;
    for (int attempt = 1;; ++attempt) {
        // Greeted before the read begins, the watch hears of every change the read may miss.
        auto watch = startWatch(address);
        if (auto contents = reader.readConsistently(uris)) {
            reportCutShort(reader.description(), reader.cutShort(), reader.namesTooLong(),
                           reader.playlistsCutShort());
            if (albumLocations_)
                albumLocations_->replace(contents->songs, uris);
            if (watch)
                lastRead_.emplace(LastRead{address, std::move(*watch), reader.playlistStamps()});
            return std::move(*contents);
        }
        if (attempt == readAttempts)
            throw LibrarySourceError(
                "The MPD database at " + describe(address) +
                " kept changing while it was read; try again when its update has finished");
    }
}

bool MpdLibrarySource::isUnchangedSinceLastOpen() noexcept
{
    if (!lastRead_)
        return false;
    // The watch's MPD may have quit since.
    posix::SigpipeGuard sigpipe;
    bool unchanged = false;
    try {
        auto address = address_ ? *address_ : mpd::defaultMpdAddress();
        unchanged = address == lastRead_->address && isQuiet(lastRead_->watch, lastRead_->playlists);
    } catch (const std::exception &) {
        // A lost watch or MPD: the full read finds out what is wrong.
    }
    // Once changed, changed until the next complete read.
    if (!unchanged)
        lastRead_.reset();
    return unchanged;
}

void MpdLibrarySource::reportCutShort(const std::string &address, const std::vector<std::string> &songs,
                                      std::size_t namesTooLong, const std::vector<std::string> &playlists)
{
    // Once each: the keys tell kinds apart by a line break, which no name read from a line holds.
    auto report = [this](const std::string &key, const std::string &message) {
        if (!reported_.insert(key).second)
            return;
        if (report_)
            report_(message);
        else
            std::cerr << "wheelbox: " << message << '\n';
    };
    for (auto &uri : songs)
        report("song\n" + uri,
               "MPD at " + address + " sends a tag of " + printable(uri) +
                   " longer than a reply line can be; the song is listed with the tags that fit");
    if (namesTooLong > 0)
        report("names\n",
               "MPD at " + address + " lists " + std::to_string(namesTooLong) +
                   (namesTooLong == 1 ? " song whose name is longer than a reply line can be; it is"
                                      : " songs whose names are longer than a reply line can be; they are") +
                   " left out");
    for (auto &name : playlists)
        report("playlist\n" + name,
               "MPD at " + address + " sends an entry of the stored playlist " + printable(name) +
                   " longer than a reply line can be; the playlist is listed with the entries "
                   "before it");
}

int parseTagNumber(std::string_view tag) noexcept
{
    while (!tag.empty() && (tag.front() == ' ' || tag.front() == '\t'))
        tag.remove_prefix(1);
    int number = 0;
    auto parsed = std::from_chars(tag.data(), tag.data() + tag.size(), number);
    if (parsed.ec != std::errc() || number < 0)
        return 0;
    return number;
}

} // namespace wheelbox
