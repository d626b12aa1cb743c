#include "library/LibraryLists.hpp"

#include "library/LibraryError.hpp"
#include "library/PathToken.hpp"
#include "model/PersistentID.hpp"

#include <algorithm>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

namespace wheelbox {
namespace {

using SongPointers = std::vector<const SnapshotSong *>;

MediaItem containerRow(std::string id, std::string title)
{
    return MediaItem{.id = std::move(id),
                     .title = std::move(title),
                     .kind = MediaItem::Kind::container,
                     .hasChildren = true};
}

// An absent artist, album title or genre is the empty text.
std::optional<std::string> optionalText(const LibrarySnapshot &snapshot, TextID id)
{
    if (id == 0)
        return std::nullopt;
    return std::string(snapshot.text(id));
}

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

// An album's row, under its first song's title, naming its artist when it has one to name.
MediaItem albumRow(const LibrarySnapshot &snapshot, std::string id, const SnapshotSong &leader)
{
    auto row = containerRow(std::move(id), std::string(snapshot.text(leader.albumTitle)));
    row.artist = optionalText(snapshot, snapshot.albumArtist(leader.albumID));
    return row;
}

MediaList songList(const LibrarySnapshot &snapshot, std::string_view path, std::string title,
                   const SongPointers &songs)
{
    MediaList list{std::string(path), std::move(title), {}};
    list.items.reserve(songs.size());
    for (const auto *song : songs)
        list.items.push_back(songRow(snapshot, *song));
    return list;
}

// The orders. Ranks stand for the collation order of texts, so comparing them is comparing the texts.
auto titleKey(const SnapshotSong &song)
{
    return std::tie(song.titleRank, song.persistentID);
}

auto albumKey(const SnapshotSong &song)
{
    return std::tie(song.albumTitleRank, song.albumID, song.discNumber, song.trackNumber, song.titleRank,
                    song.persistentID);
}

auto artistKey(const SnapshotSong &song)
{
    return std::tuple_cat(std::tie(song.artistRank), albumKey(song));
}

template <typename Key> void sortSongs(SongPointers &songs, Key key)
{
    std::stable_sort(songs.begin(), songs.end(),
                     [&](const auto *left, const auto *right) { return key(*left) < key(*right); });
}

SongPointers allSongs(const LibrarySnapshot &snapshot)
{
    SongPointers songs;
    songs.reserve(snapshot.tracks().size());
    for (const auto &song : snapshot.tracks())
        songs.push_back(&song);
    return songs;
}

template <typename Predicate> SongPointers songsWhere(const SongPointers &from, Predicate predicate)
{
    SongPointers songs;
    std::copy_if(from.begin(), from.end(), std::back_inserter(songs),
                 [&](const auto *song) { return predicate(*song); });
    return songs;
}

// The first song of each album, in order of first appearance; untitled albums are left out.
SongPointers albumLeaders(const SongPointers &songs)
{
    std::unordered_set<std::uint64_t> seen;
    SongPointers leaders;
    for (const auto *song : songs) {
        if (seen.insert(song->albumID).second && song->albumTitle != 0)
            leaders.push_back(song);
    }
    return leaders;
}

// The first song of each distinct non-blank name (artist or genre), sorted by that name.
template <typename Rank, typename Name>
SongPointers distinctNames(const SongPointers &songs, Rank rank, Name name)
{
    std::unordered_set<TextRank> seen;
    SongPointers firsts;
    for (const auto *song : songs) {
        if (name(*song) != 0 && seen.insert(rank(*song)).second)
            firsts.push_back(song);
    }
    std::sort(firsts.begin(), firsts.end(),
              [&](const auto *left, const auto *right) { return rank(*left) < rank(*right); });
    return firsts;
}

// Songs of one album, in album order; the album's title comes from its first song.
MediaList albumSongs(const LibrarySnapshot &snapshot, std::string_view path, const SongPointers &from,
                     std::string_view albumHex)
{
    auto albumID = parsePersistentID(albumHex);
    if (!albumID)
        throw LibraryError::unknownPath(std::string(path));
    auto songs = songsWhere(from, [&](const auto &song) { return song.albumID == *albumID; });
    if (songs.empty() || songs.front()->albumTitle == 0)
        throw LibraryError::unknownPath(std::string(path));
    std::string title(snapshot.text(songs.front()->albumTitle));
    sortSongs(songs, albumKey);
    return songList(snapshot, path, std::move(title), songs);
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

MediaList artistList(const LibrarySnapshot &snapshot, std::string_view path)
{
    auto components = pathComponents(path);
    if (components.size() < 3)
        throw LibraryError::unknownPath(std::string(path));
    auto artist = decodePathToken(components[2]);
    if (!artist)
        throw LibraryError::unknownPath(std::string(path));
    auto rank = snapshot.nameRank(*artist);
    auto songs = songsWhere(allSongs(snapshot), [&](const auto &song) {
        return song.artistName != 0 && rank && song.artistRank == *rank;
    });

    if (components.size() == 3) {
        MediaList list{std::string(path), *artist, {}};
        auto albums = albumLeaders(songs);
        std::stable_sort(albums.begin(), albums.end(), [](const auto *left, const auto *right) {
            return left->albumTitleRank < right->albumTitleRank;
        });
        list.items.reserve(albums.size() + 1);
        list.items.push_back(containerRow(std::string(path) + "/all", "All"));
        for (const auto *album : albums)
            list.items.push_back(
                albumRow(snapshot, std::string(path) + "/" + formatPersistentID(album->albumID), *album));
        return list;
    }
    if (components[3] == "all") {
        sortSongs(songs, albumKey);
        return songList(snapshot, path, *artist, songs);
    }
    return albumSongs(snapshot, path, songs, components[3]);
}

MediaList albumList(const LibrarySnapshot &snapshot, std::string_view path, std::string title,
                    std::string_view rowPrefix, SongPointers albums, bool withAllRow)
{
    MediaList list{std::string(path), std::move(title), {}};
    list.items.reserve(albums.size() + 1);
    if (withAllRow)
        list.items.push_back(containerRow(std::string(rowPrefix) + "all", "All"));
    for (const auto *album : albums)
        list.items.push_back(
            albumRow(snapshot, std::string(rowPrefix) + formatPersistentID(album->albumID), *album));
    return list;
}

} // namespace

MediaList libraryList(const LibrarySnapshot &snapshot, std::string_view path)
{
    using namespace std::string_view_literals;

    if (path == "music"sv) {
        MediaList list{std::string(path), "Music", {}};
        for (auto [id, title] : {std::pair{"music/playlists", "Playlists"},
                                 {"music/artists", "Artists"},
                                 {"music/albums", "Albums"},
                                 {"music/songs", "Songs"},
                                 {"music/genres", "Genres"}})
            list.items.push_back(containerRow(id, title));
        return list;
    }
    if (path == "music/songs"sv) {
        auto songs = allSongs(snapshot);
        sortSongs(songs, titleKey);
        return songList(snapshot, path, "Songs", songs);
    }
    if (path == "music/artists"sv) {
        MediaList list{std::string(path), "Artists", {}};
        auto artists = distinctNames(
            allSongs(snapshot), [](const auto &song) { return song.artistRank; },
            [](const auto &song) { return song.artistName; });
        list.items.reserve(artists.size() + 1);
        list.items.push_back(containerRow("music/artists/all", "All"));
        for (const auto *song : artists) {
            auto name = snapshot.text(song->artistName);
            list.items.push_back(containerRow("music/artists/" + encodePathToken(name), std::string(name)));
        }
        return list;
    }
    if (path == "music/albums"sv) {
        auto albums = albumLeaders(allSongs(snapshot));
        std::sort(albums.begin(), albums.end(), [](const auto *left, const auto *right) {
            return std::tie(left->albumTitleRank, left->albumID) <
                   std::tie(right->albumTitleRank, right->albumID);
        });
        return albumList(snapshot, path, "Albums", "music/albums/", std::move(albums), false);
    }
    if (path == "music/genres"sv) {
        MediaList list{std::string(path), "Genres", {}};
        auto genres = distinctNames(
            allSongs(snapshot), [](const auto &song) { return song.genreRank; },
            [](const auto &song) { return song.genre; });
        list.items.reserve(genres.size());
        for (const auto *song : genres) {
            auto name = snapshot.text(song->genre);
            list.items.push_back(containerRow("music/genres/" + encodePathToken(name), std::string(name)));
        }
        return list;
    }
    if (path == "music/playlists"sv) {
        MediaList list{std::string(path), "Playlists", {}};
        list.items.reserve(snapshot.playlists().size());
        for (const auto &playlist : snapshot.playlists())
            list.items.push_back(
                containerRow("music/playlist/" + formatPersistentID(playlist.persistentID), playlist.name));
        return list;
    }
    if (path == "music/artists/all"sv) {
        auto albums = albumLeaders(allSongs(snapshot));
        std::sort(albums.begin(), albums.end(), [](const auto *left, const auto *right) {
            return std::tie(left->artistRank, left->albumTitleRank, left->albumID) <
                   std::tie(right->artistRank, right->albumTitleRank, right->albumID);
        });
        return albumList(snapshot, path, "Albums", "music/artists/all/", std::move(albums), true);
    }
    if (path == "music/artists/all/all"sv) {
        auto songs = allSongs(snapshot);
        sortSongs(songs, artistKey);
        return songList(snapshot, path, "Songs", songs);
    }
    if (path.starts_with("music/artists/all/"sv))
        return albumSongs(snapshot, path, allSongs(snapshot), path.substr("music/artists/all/"sv.size()));
    if (path.starts_with("music/artists/"sv))
        return artistList(snapshot, path);
    if (path.starts_with("music/albums/"sv))
        return albumSongs(snapshot, path, allSongs(snapshot), path.substr("music/albums/"sv.size()));
    if (path.starts_with("music/genres/"sv)) {
        auto genre = decodePathToken(path.substr("music/genres/"sv.size()));
        if (!genre)
            throw LibraryError::unknownPath(std::string(path));
        // The empty token stands for the songs without a genre; no other text finds them, and the
        // empty text that also stands for an absent artist or album title finds nothing here.
        auto rank = genre->empty() ? std::nullopt : snapshot.nameRank(*genre);
        auto songs = songsWhere(allSongs(snapshot), [&](const auto &song) {
            return genre->empty() ? song.genre == 0 : rank && song.genre != 0 && song.genreRank == *rank;
        });
        sortSongs(songs, albumKey);
        return songList(snapshot, path, std::move(*genre), songs);
    }
    if (path.starts_with("music/playlist/"sv)) {
        auto id = parsePersistentID(path.substr("music/playlist/"sv.size()));
        const auto &playlists = snapshot.playlists();
        auto playlist = std::find_if(playlists.begin(), playlists.end(), [&](const auto &candidate) {
            return id && candidate.persistentID == *id;
        });
        if (playlist == playlists.end())
            throw LibraryError::unknownPath(std::string(path));
        SongPointers songs;
        songs.reserve(playlist->entries.size());
        for (auto entry : playlist->entries)
            songs.push_back(&snapshot.entrySong(entry));
        return songList(snapshot, path, playlist->name, songs);
    }
    throw LibraryError::unknownPath(std::string(path));
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

} // namespace wheelbox
