#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace wheelbox {

// What the music library provider reads: the user's songs and playlists, as the platform's
// library reports them, before any filtering.
enum class LibraryMediaKind { song, movie, podcast, audiobook, musicVideo, other };

// Built-in playlists ("Music", "Purchased", ...) carry a distinguished kind; the user's own have none.
enum class LibraryDistinguishedKind { none, music, purchased, other };

enum class LibraryPlaylistKind { regular, smart, genius, folder };

struct LibraryAlbum {
    std::uint64_t persistentID = 0;
    std::optional<std::string> title;
    int discNumber = 0;
    // The album artist tag, when the song carries one.
    std::optional<std::string> artistName = std::nullopt;
};

struct LibrarySong {
    std::uint64_t persistentID = 0;
    LibraryMediaKind mediaKind = LibraryMediaKind::song;
    std::string title;
    std::optional<std::string> artistName;
    LibraryAlbum album;
    std::optional<std::string> genre;
    int trackNumber = 0;
    // Seconds; 0 when unknown.
    double duration = 0;
};

struct LibraryPlaylist {
    std::uint64_t persistentID = 0;
    std::string name;
    bool isVisible = true;
    bool isPrimary = false;
    LibraryDistinguishedKind distinguishedKind = LibraryDistinguishedKind::none;
    LibraryPlaylistKind kind = LibraryPlaylistKind::regular;
    // Positions in LibraryContents::songs, in playlist order; a song may appear more than once.
    std::vector<std::size_t> items;
};

struct LibraryContents {
    std::vector<LibrarySong> songs;
    std::vector<LibraryPlaylist> playlists;
};

// Opening the library failed (no access, no database, a broken reply). The text is shown to the
// user as the reason the library is unavailable.
class LibrarySourceError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A place the whole library can be read from in one go. Used from one thread at a time.
class LibrarySource {
  public:
    virtual ~LibrarySource() = default;

    // Reads everything afresh. Throws LibrarySourceError (or another std::exception) on failure.
    virtual LibraryContents open() = 0;

    // Whether the library is certainly still what the last open() returned, with that open() having
    // succeeded: then what was built from it may stand. False whenever the source cannot tell at
    // a small cost, and after a failed open().
    virtual bool isUnchangedSinceLastOpen() noexcept { return false; }

    // What to tell a user whose library holds no song: where music goes for this source. None
    // when the source cannot say.
    virtual std::optional<std::string> whereMusicGoes() const { return std::nullopt; }
};

} // namespace wheelbox
