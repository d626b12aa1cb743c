#include "platform/linux/MpdLibrarySource.hpp"

#include "lib/mpd/MpdArgument.hpp"
#include "lib/mpd/MpdIdentity.hpp"

#include <strings.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace wheelbox {
namespace {

using mpd::MpdConnection;
using mpd::MpdError;

// Every song below the music folder's root.
constexpr const char *everySong = "(base '')";

// The database can change between two pages (an update finished); the read then starts over.
constexpr int readAttempts = 3;

// Only the tags the library uses travel: a large library's replies stay small.
constexpr mpd_tag_type usedTags[] = {
    MPD_TAG_TITLE, MPD_TAG_ARTIST, MPD_TAG_ALBUM, MPD_TAG_ALBUM_ARTIST,
    MPD_TAG_TRACK, MPD_TAG_DISC,   MPD_TAG_GENRE, MPD_TAG_MUSICBRAINZ_ALBUMID};

std::string describe(const mpd::MpdAddress &address)
{
    return address.port == 0 ? address.host : address.host + ":" + std::to_string(address.port);
}

// The tags of one song as the reply lists them; a tag given more than once keeps its first value.
struct SongTags {
    std::string uri;
    std::string title, artist, album, albumArtist, track, disc, genre, musicBrainzAlbumID;

    void add(std::string_view name, const char *value)
    {
        if (auto *field = fieldFor(name); field && field->empty())
            *field = value;
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

// One read of the library over one connection; turns every MPD failure into a LibrarySourceError.
class LibraryReader {
  public:
    LibraryReader(const mpd::MpdAddress &address, const MpdLibraryReadOptions &options)
        : address_(describe(address)), options_(options), connection_(connect(address, options))
    {
        limitTags();
    }

    std::optional<LibraryContents> readConsistently()
    {
        auto before = databaseUpdateTime();
        LibraryContents contents;
        std::vector<std::string> uris;
        readSongs(contents.songs, uris);
        readPlaylists(contents.playlists, uris);
        if (databaseUpdateTime() != before)
            return std::nullopt;
        return contents;
    }

  private:
    static MpdConnection connect(const mpd::MpdAddress &address, const MpdLibraryReadOptions &options)
    {
        try {
            return MpdConnection::open(address, options.timeout);
        } catch (const MpdError &error) {
            throw LibrarySourceError("Can\u2019t reach MPD at " + describe(address) + ": " + error.what());
        }
    }

    [[noreturn]] void fail(const MpdError &error, std::string_view doing) const
    {
        if (error.serverError())
            throw LibrarySourceError("MPD at " + address_ + " refused to " + std::string(doing) + ": " +
                                     error.what());
        throw LibrarySourceError("Lost MPD at " + address_ + " while trying to " + std::string(doing) + ": " +
                                 error.what());
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
        constexpr std::string_view doing = "list the songs";
        auto *connection = connection_.get();
        auto pageSize = std::max<std::size_t>(options_.pageSize, 1);
        for (std::size_t start = 0;; start += pageSize) {
            auto end = start + pageSize;
            if (end > std::numeric_limits<unsigned>::max())
                throw LibrarySourceError("MPD at " + address_ + " holds too many songs");
            if (!mpd_search_db_songs(connection, true) || !mpd_search_add_expression(connection, everySong) ||
                !mpd_search_add_window(connection, static_cast<unsigned>(start),
                                       static_cast<unsigned>(end)) ||
                !mpd_search_commit(connection)) {
                mpd_search_cancel(connection);
                check(doing);
            }
            std::size_t received = 0;
            SongTags tags;
            auto flush = [&] {
                if (tags.uri.empty())
                    return;
                songs.push_back(librarySong(tags));
                uris.push_back(std::move(tags.uri));
                tags = SongTags();
            };
            // Read pair by pair: building an mpd_song parses every line, including a date whose
            // conversion stats /etc/localtime each time, and cost most of a large read's time.
            while (auto *pair = mpd_recv_pair(connection)) {
                std::string_view name = pair->name;
                if (name == "file") {
                    flush();
                    tags.uri = pair->value;
                    ++received;
                } else if (!tags.uri.empty()) {
                    tags.add(name, pair->value);
                }
                mpd_return_pair(connection, pair);
            }
            flush();
            finish(doing);
            if (received < pageSize)
                return;
        }
    }

    static LibrarySong librarySong(const SongTags &tags)
    {
        auto optional = [](const std::string &value) {
            return value.empty() ? std::nullopt : std::optional<std::string>(value);
        };
        LibrarySong song;
        song.persistentID = mpd::songPersistentID(tags.uri);
        song.mediaKind = LibraryMediaKind::song;
        // A song without a Title tag keeps an empty title; the provider leaves such songs out.
        song.title = tags.title;
        song.artistName = optional(tags.artist);
        song.album.title = optional(tags.album);
        song.album.persistentID =
            mpd::albumPersistentID(tags.album, tags.musicBrainzAlbumID, tags.albumArtist, tags.uri);
        song.album.discNumber = parseTagNumber(tags.disc);
        song.genre = optional(tags.genre);
        song.trackNumber = parseTagNumber(tags.track);
        return song;
    }

    void readPlaylists(std::vector<LibraryPlaylist> &playlists, const std::vector<std::string> &uris)
    {
        auto *connection = connection_.get();
        std::vector<std::string> names;
        if (!mpd_send_list_playlists(connection))
            check("list the stored playlists");
        while (mpd::PlaylistPtr playlist{mpd_recv_playlist(connection)})
            names.emplace_back(mpd_playlist_get_path(playlist.get()));
        finish("list the stored playlists");
        if (names.empty())
            return;

        std::unordered_map<std::string_view, std::size_t> positions;
        positions.reserve(uris.size());
        for (std::size_t i = 0; i < uris.size(); ++i)
            positions.emplace(uris[i], i);

        for (auto &name : names) {
            // A name no command could carry names no playlist that can be read.
            if (!mpd::isValidPlaylistName(name))
                continue;
            auto doing = "read the stored playlist \"" + name + "\"";
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
                fail(error, doing);
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

    std::string address_;
    MpdLibraryReadOptions options_;
    MpdConnection connection_;
};

} // namespace

MpdLibrarySource::MpdLibrarySource(mpd::MpdAddress address, MpdLibraryReadOptions options)
    : address_(std::move(address)), options_(options)
{}

LibraryContents MpdLibrarySource::open()
{
    auto address = address_ ? *address_ : mpd::defaultMpdAddress();
    LibraryReader reader(address, options_);
    for (int attempt = 1;; ++attempt) {
        if (auto contents = reader.readConsistently())
            return std::move(*contents);
        if (attempt == readAttempts)
            throw LibrarySourceError(
                "The MPD database at " + describe(address) +
                " kept changing while it was read; try again when its update has finished");
    }
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
