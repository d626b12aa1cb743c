#include "library/LibraryLists.hpp"

#include "library/LibraryError.hpp"
#include "library/PathToken.hpp"
#include "model/PersistentID.hpp"

#include <algorithm>
#include <functional>
#include <span>
#include <tuple>
#include <unordered_map>

namespace wheelbox {

MediaItem containerRow(std::string id, std::string title)
{
    return MediaItem{.id = std::move(id),
                     .title = std::move(title),
                     .kind = MediaItem::Kind::container,
                     .hasChildren = true};
}

namespace {

// An absent artist, album title or genre is the empty text.
std::optional<std::string> optionalText(const LibrarySnapshot &snapshot, TextID id)
{
    if (id == 0)
        return std::nullopt;
    return std::string(snapshot.text(id));
}

} // namespace

MediaItem songRow(const LibrarySnapshot &snapshot, const SnapshotSong &song)
{
    std::string id;
    id.reserve(trackIDPrefix.size() + 16);
    id.append(trackIDPrefix).append(formatPersistentID(song.persistentID));
    MediaItem row{.id = std::move(id),
                  .title = std::string(snapshot.text(song.title)),
                  .subtitle = optionalText(snapshot, song.artistName),
                  .kind = MediaItem::Kind::track,
                  .playable = true};
    if (song.trackNumber > 0)
        row.trackNumber = song.trackNumber;
    if (song.discNumber > 0)
        row.discNumber = song.discNumber;
    if (song.durationMilliseconds > 0)
        row.duration = song.durationMilliseconds / 1000.0;
    return row;
}

MediaItem albumRow(const LibrarySnapshot &snapshot, std::string id, const SnapshotSong &leader)
{
    auto row = containerRow(std::move(id), std::string(snapshot.text(leader.albumTitle)));
    row.artist = optionalText(snapshot, snapshot.albumArtist(leader.albumID));
    return row;
}

MediaItem artistRow(const LibrarySnapshot &snapshot, const SnapshotSong &song)
{
    auto name = snapshot.text(song.artistName);
    return containerRow("music/artists/" + encodePathToken(name), std::string(name));
}

MediaItem genreRow(const LibrarySnapshot &snapshot, const SnapshotSong &song)
{
    auto name = snapshot.text(song.genre);
    return containerRow("music/genres/" + encodePathToken(name), std::string(name));
}

MediaItem playlistRow(const SnapshotPlaylist &playlist)
{
    return containerRow("music/playlist/" + formatPersistentID(playlist.persistentID), playlist.name);
}

namespace {

using Positions = std::span<const std::uint32_t>;

// What the referenced rows of a list are: each kind writes its row from one snapshot position.
enum class RowKind { song, album, artist, genre, playlist };

// A list resolved to references into the snapshot, so that any stretch of its rows can be written
// without the others. Move-only: `positions` may point into its own copy of them.
class ListRows {
  public:
    ListRows() = default;
    ListRows(ListRows &&) = default;
    ListRows &operator=(ListRows &&) = default;

    std::string title;
    // Rows before the referenced ones: the root's, or an "All" row.
    std::vector<MediaItem> leading;
    RowKind kind = RowKind::song;
    // An album row's id is this followed by the album's hex id.
    std::string albumPrefix;
    // Positions for LibrarySnapshot::entrySong, or into its playlists.
    Positions positions;

    std::size_t count() const noexcept { return leading.size() + positions.size(); }

    // Rows that no kept order holds in one run.
    void keep(std::vector<std::uint32_t> own)
    {
        own_ = std::move(own);
        positions = own_;
    }

    void setSections(const std::vector<ListSection> &kept) noexcept { keptSections_ = &kept; }
    void keepSections(std::vector<ListSection> own) { ownSections_ = std::move(own); }
    // Where the initials of `positions` begin; null for a list not sorted by its rows' titles.
    const std::vector<ListSection> *sections() const noexcept
    {
        return ownSections_ ? &*ownSections_ : keptSections_;
    }

  private:
    std::vector<std::uint32_t> own_;
    const std::vector<ListSection> *keptSections_ = nullptr;
    std::optional<std::vector<ListSection>> ownSections_;
};

MediaItem rowAt(const LibrarySnapshot &snapshot, const ListRows &rows, std::size_t index)
{
    if (index < rows.leading.size())
        return rows.leading[index];
    auto position = rows.positions[index - rows.leading.size()];
    switch (rows.kind) {
    case RowKind::song:
        return songRow(snapshot, snapshot.entrySong(position));
    case RowKind::album: {
        const auto &song = snapshot.tracks()[position];
        return albumRow(snapshot, rows.albumPrefix + formatPersistentID(song.albumID), song);
    }
    case RowKind::artist:
        return artistRow(snapshot, snapshot.tracks()[position]);
    case RowKind::genre:
        return genreRow(snapshot, snapshot.tracks()[position]);
    case RowKind::playlist:
        return playlistRow(snapshot.playlists()[position]);
    }
    return {};
}

// The run of `order` whose songs have `value` in the field the order is sorted by first.
template <typename Field, typename Value>
Positions runOf(const LibrarySnapshot &snapshot, const std::vector<std::uint32_t> &order, Field field,
                Value value)
{
    const auto &songs = snapshot.tracks();
    auto run = std::ranges::equal_range(order, value, std::less{},
                                        [&](std::uint32_t position) { return field(songs[position]); });
    return {run.begin(), run.end()};
}

// The title of an album list: the album's title as its first song in library order has it. An album
// without songs, or whose first song has no album title, is no list.
std::string albumListTitle(const LibrarySnapshot &snapshot, std::string_view path, Positions album)
{
    if (album.empty())
        throw LibraryError::unknownPath(std::string(path));
    const auto &first = snapshot.tracks()[*std::min_element(album.begin(), album.end())];
    if (first.albumTitle == 0)
        throw LibraryError::unknownPath(std::string(path));
    return std::string(snapshot.text(first.albumTitle));
}

std::uint64_t albumIDOf(std::string_view path, std::string_view albumHex)
{
    auto albumID = parsePersistentID(albumHex);
    if (!albumID)
        throw LibraryError::unknownPath(std::string(path));
    return *albumID;
}

ListRows albumSongs(LibraryIndex &index, std::string_view path, std::string_view albumHex)
{
    const auto &snapshot = index.snapshot();
    ListRows rows;
    rows.positions = runOf(
        snapshot, index.songsByAlbum().positions, [](const SnapshotSong &song) { return song.albumID; },
        albumIDOf(path, albumHex));
    rows.title = albumListTitle(snapshot, path, rows.positions);
    return rows;
}

std::vector<std::string_view> pathComponents(std::string_view path)
{
    std::vector<std::string_view> components;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto slash = path.find('/', start);
        auto end = slash == std::string_view::npos ? path.size() : slash;
        if (end > start)
            components.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return components;
}

ListRows artistList(LibraryIndex &index, std::string_view path)
{
    const auto &snapshot = index.snapshot();
    const auto &tracks = snapshot.tracks();
    auto components = pathComponents(path);
    if (components.size() < 3)
        throw LibraryError::unknownPath(std::string(path));
    auto artist = decodePathToken(components[2]);
    if (!artist)
        throw LibraryError::unknownPath(std::string(path));
    // A name's rank is never the rank of the empty text, so songs without an artist stay out.
    Positions songs;
    if (auto rank = snapshot.nameRank(*artist))
        songs = runOf(
            snapshot, index.songsByArtist().positions,
            [](const SnapshotSong &song) { return song.artistRank; }, *rank);

    ListRows rows;
    if (components.size() == 3) {
        rows.title = *artist;
        rows.leading.push_back(containerRow(std::string(path) + "/all", "All"));
        rows.kind = RowKind::album;
        rows.albumPrefix = std::string(path) + "/";
        // Each album once, by its first song in library order; titles that compare equal keep the
        // order in which their albums first appear.
        std::unordered_map<std::uint64_t, std::uint32_t> firsts;
        for (auto position : songs) {
            auto [entry, added] = firsts.try_emplace(tracks[position].albumID, position);
            if (!added)
                entry->second = std::min(entry->second, position);
        }
        std::vector<std::uint32_t> albums;
        for (auto [album, position] : firsts) {
            if (tracks[position].albumTitle != 0)
                albums.push_back(position);
        }
        std::sort(albums.begin(), albums.end(), [&](auto left, auto right) {
            return std::tie(tracks[left].albumTitleRank, left) <
                   std::tie(tracks[right].albumTitleRank, right);
        });
        rows.keepSections(index.sectionsOf(
            albums.size(), [&](std::size_t i) { return snapshot.text(tracks[albums[i]].albumTitle); }));
        rows.keep(std::move(albums));
        return rows;
    }
    if (components[3] == "all") {
        rows.title = *artist;
        rows.positions = songs;
        return rows;
    }
    auto albumID = albumIDOf(path, components[3]);
    std::vector<std::uint32_t> album;
    std::copy_if(songs.begin(), songs.end(), std::back_inserter(album),
                 [&](std::uint32_t position) { return tracks[position].albumID == albumID; });
    rows.title = albumListTitle(snapshot, path, album);
    rows.keep(std::move(album));
    return rows;
}

// Rows over one of the index's orders.
ListRows orderRows(std::string title, RowKind kind, const LibraryIndex::Order &order, bool sorted)
{
    ListRows rows;
    rows.title = std::move(title);
    rows.kind = kind;
    rows.positions = order.positions;
    if (sorted)
        rows.setSections(order.sections);
    return rows;
}

ListRows resolve(LibraryIndex &index, std::string_view path)
{
    using namespace std::string_view_literals;
    const auto &snapshot = index.snapshot();

    if (path == "music"sv) {
        ListRows rows;
        rows.title = "Music";
        for (auto [id, title] : {std::pair{"music/playlists", "Playlists"},
                                 {"music/artists", "Artists"},
                                 {"music/albums", "Albums"},
                                 {"music/songs", "Songs"},
                                 {"music/genres", "Genres"}})
            rows.leading.push_back(containerRow(id, title));
        return rows;
    }
    if (path == "music/songs"sv)
        return orderRows("Songs", RowKind::song, index.songsByTitle(), true);
    if (path == "music/artists"sv) {
        auto rows = orderRows("Artists", RowKind::artist, index.artists(), true);
        rows.leading.push_back(containerRow("music/artists/all", "All"));
        return rows;
    }
    if (path == "music/albums"sv) {
        auto rows = orderRows("Albums", RowKind::album, index.albumsByTitle(), true);
        rows.albumPrefix = "music/albums/";
        return rows;
    }
    if (path == "music/genres"sv)
        return orderRows("Genres", RowKind::genre, index.genres(), true);
    if (path == "music/playlists"sv)
        return orderRows("Playlists", RowKind::playlist, index.playlists(), true);
    if (path == "music/artists/all"sv) {
        auto rows = orderRows("Albums", RowKind::album, index.albumsByArtist(), false);
        rows.leading.push_back(containerRow("music/artists/all/all", "All"));
        rows.albumPrefix = "music/artists/all/";
        return rows;
    }
    if (path == "music/artists/all/all"sv)
        return orderRows("Songs", RowKind::song, index.songsByArtist(), false);
    if (path.starts_with("music/artists/all/"sv))
        return albumSongs(index, path, path.substr("music/artists/all/"sv.size()));
    if (path.starts_with("music/artists/"sv))
        return artistList(index, path);
    if (path.starts_with("music/albums/"sv))
        return albumSongs(index, path, path.substr("music/albums/"sv.size()));
    if (path.starts_with("music/genres/"sv)) {
        auto genre = decodePathToken(path.substr("music/genres/"sv.size()));
        if (!genre)
            throw LibraryError::unknownPath(std::string(path));
        ListRows rows;
        const auto &order = index.songsByGenre().positions;
        if (genre->empty()) {
            // The empty token stands for the songs without a genre; no other text finds them. The
            // empty text sorts before every other, so they are the order's first run.
            const auto &songs = snapshot.tracks();
            auto end = std::ranges::partition_point(
                order, [&](std::uint32_t position) { return songs[position].genre == 0; });
            rows.positions = {order.begin(), end};
        } else if (auto rank = snapshot.nameRank(*genre)) {
            rows.positions = runOf(
                snapshot, order, [](const SnapshotSong &song) { return song.genreRank; }, *rank);
        }
        rows.title = std::move(*genre);
        return rows;
    }
    if (path.starts_with("music/playlist/"sv)) {
        auto id = parsePersistentID(path.substr("music/playlist/"sv.size()));
        const auto &playlists = snapshot.playlists();
        auto playlist = std::find_if(playlists.begin(), playlists.end(), [&](const auto &candidate) {
            return id && candidate.persistentID == *id;
        });
        if (playlist == playlists.end())
            throw LibraryError::unknownPath(std::string(path));
        ListRows rows;
        rows.title = playlist->name;
        rows.positions = playlist->entries;
        return rows;
    }
    throw LibraryError::unknownPath(std::string(path));
}

// Rows offset … offset+limit-1 of `count`, cut at the end.
std::pair<std::size_t, std::size_t> windowBounds(std::size_t count, std::size_t offset, std::size_t limit)
{
    auto start = std::min(offset, count);
    return {start, start + std::min(limit, count - start)};
}

MediaList rowsOf(const LibrarySnapshot &snapshot, std::string_view path, const ListRows &rows,
                 std::size_t start, std::size_t end)
{
    MediaList list{std::string(path), rows.title, {}};
    list.items.reserve(end - start);
    for (auto index = start; index < end; ++index)
        list.items.push_back(rowAt(snapshot, rows, index));
    return list;
}

} // namespace

MediaList libraryList(LibraryIndex &index, std::string_view path)
{
    auto rows = resolve(index, path);
    return rowsOf(index.snapshot(), path, rows, 0, rows.count());
}

MediaListWindow libraryWindow(LibraryIndex &index, std::string_view path, std::size_t offset,
                              std::size_t limit)
{
    auto rows = resolve(index, path);
    MediaListWindow window;
    window.count = rows.count();
    auto [start, end] = windowBounds(rows.count(), offset, limit);
    window.offset = start;
    window.list = rowsOf(index.snapshot(), path, rows, start, end);
    if (const auto *sections = rows.sections()) {
        // The sections count the referenced rows; the list's own rows ("All") come first.
        window.sections.emplace();
        window.sections->reserve(sections->size());
        for (const auto &section : *sections)
            window.sections->push_back({section.initial, section.index + rows.leading.size()});
    }
    return window;
}

std::vector<std::string> libraryTrackIDs(LibraryIndex &index, std::string_view path)
{
    auto rows = resolve(index, path);
    std::vector<std::string> ids;
    if (rows.kind != RowKind::song)
        return ids;
    ids.reserve(rows.positions.size());
    for (auto position : rows.positions)
        ids.push_back(formatPersistentID(index.snapshot().entrySong(position).persistentID));
    return ids;
}

MediaList unavailableLibraryList(std::string_view path, const std::optional<std::string> &loadError,
                                 const std::optional<std::string> &whereMusicGoes)
{
    const char *title = "Music";
    for (auto [word, candidate] : {std::pair{"playlist", "Playlists"},
                                   {"artists", "Artists"},
                                   {"songs", "Songs"},
                                   {"albums", "Albums"},
                                   {"genres", "Genres"}}) {
        if (path.find(word) != std::string_view::npos) {
            title = candidate;
            break;
        }
    }
    // The failure's own text tells the user why (MPD missing, unreachable, still scanning).
    MediaItem row{.id = "music-unavailable",
                  .title = loadError ? "Retry Music Library" : "No Music Found",
                  .subtitle = loadError ? loadError : whereMusicGoes,
                  .kind = MediaItem::Kind::action};
    return MediaList{std::string(path), title, {std::move(row)}};
}

MediaListWindow unavailableLibraryWindow(std::string_view path, const std::optional<std::string> &loadError,
                                         const std::optional<std::string> &whereMusicGoes, std::size_t offset,
                                         std::size_t limit)
{
    auto whole = unavailableLibraryList(path, loadError, whereMusicGoes);
    MediaListWindow window;
    window.count = whole.items.size();
    auto [start, end] = windowBounds(whole.items.size(), offset, limit);
    window.offset = start;
    window.list = {std::move(whole.id), std::move(whole.title), {}};
    for (auto index = start; index < end; ++index)
        window.list.items.push_back(std::move(whole.items[index]));
    return window;
}

} // namespace wheelbox
