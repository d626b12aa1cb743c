#include "library/LibraryIndex.hpp"

#include "lib/icu/InitialLetters.hpp"

#include <algorithm>
#include <numeric>
#include <tuple>
#include <unordered_set>

namespace wheelbox {
namespace {

// The orders' keys, by value so that a sort moves small flat records instead of chasing songs.
// Ranks stand for the collation order of texts, so comparing them is comparing the texts.
auto albumKey(const SnapshotSong &song)
{
    return std::tuple(song.albumTitleRank, song.albumID, song.discNumber, song.trackNumber, song.titleRank,
                      song.persistentID);
}

// Positions of `songs` sorted by `key`; equal keys keep the songs' order, as a stable sort would.
template <typename Key>
std::vector<std::uint32_t> sortedPositions(const std::vector<SnapshotSong> &songs,
                                           const std::vector<std::uint32_t> &positions, Key key)
{
    using Keyed = std::pair<decltype(key(songs.front())), std::uint32_t>;
    std::vector<Keyed> keyed;
    keyed.reserve(positions.size());
    for (auto position : positions)
        keyed.emplace_back(key(songs[position]), position);
    std::sort(keyed.begin(), keyed.end());
    std::vector<std::uint32_t> sorted;
    sorted.reserve(keyed.size());
    for (const auto &entry : keyed)
        sorted.push_back(entry.second);
    return sorted;
}

std::vector<std::uint32_t> everySong(const std::vector<SnapshotSong> &songs)
{
    std::vector<std::uint32_t> positions(songs.size());
    for (std::uint32_t i = 0; i < positions.size(); ++i)
        positions[i] = i;
    return positions;
}

// The first song of each album in library order; albums whose first song has no album title are
// left out.
std::vector<std::uint32_t> albumLeaders(const std::vector<SnapshotSong> &songs)
{
    std::unordered_set<std::uint64_t> seen;
    std::vector<std::uint32_t> leaders;
    for (std::uint32_t i = 0; i < songs.size(); ++i) {
        if (seen.insert(songs[i].albumID).second && songs[i].albumTitle != 0)
            leaders.push_back(i);
    }
    return leaders;
}

// The first song of each distinct non-blank name, in library order.
template <typename Rank>
std::vector<std::uint32_t> firstOfEachName(const std::vector<SnapshotSong> &songs, Rank rank,
                                           TextID SnapshotSong::*name)
{
    std::unordered_set<TextRank> seen;
    std::vector<std::uint32_t> firsts;
    for (std::uint32_t i = 0; i < songs.size(); ++i) {
        if (songs[i].*name != 0 && seen.insert(rank(songs[i])).second)
            firsts.push_back(i);
    }
    return firsts;
}

// Every song, ordered by `key`.
template <typename Key> LibraryIndex::Order songOrder(const std::vector<SnapshotSong> &songs, Key key)
{
    return {sortedPositions(songs, everySong(songs), key), {}};
}

// `positions` sorted by `key`, with the sections of the text each row is titled by.
template <typename Key>
LibraryIndex::Order titledOrder(LibraryIndex &index, const std::vector<std::uint32_t> &positions, Key key,
                                TextID SnapshotSong::*title)
{
    const auto &snapshot = index.snapshot();
    const auto &songs = snapshot.tracks();
    LibraryIndex::Order order{sortedPositions(songs, positions, key), {}};
    order.sections = index.sectionsOf(order.positions.size(), [&](std::size_t i) {
        return snapshot.text(songs[order.positions[i]].*title);
    });
    return order;
}

} // namespace

LibraryIndex::LibraryIndex(const LibrarySnapshot &snapshot, icu::InitialLetters &initials)
    : snapshot_(snapshot), initials_(initials)
{}

std::vector<ListSection> LibraryIndex::sectionsOf(std::size_t count,
                                                  const std::function<std::string_view(std::size_t)> &titleAt)
{
    std::vector<ListSection> sections;
    for (std::size_t i = 0; i < count; ++i) {
        auto initial = initials_.initialOf(titleAt(i));
        if (sections.empty() || sections.back().initial != initial)
            sections.push_back({std::string(initial), i});
    }
    return sections;
}

const LibraryIndex::Order &LibraryIndex::songsByTitle()
{
    if (!songsByTitle_) {
        songsByTitle_ = titledOrder(
            *this, everySong(snapshot_.tracks()),
            [](const SnapshotSong &song) { return std::tuple(song.titleRank, song.persistentID); },
            &SnapshotSong::title);
    }
    return *songsByTitle_;
}

const LibraryIndex::Order &LibraryIndex::songsByArtist()
{
    if (!songsByArtist_) {
        songsByArtist_ = songOrder(snapshot_.tracks(), [](const SnapshotSong &song) {
            return std::tuple_cat(std::tuple(song.artistRank), albumKey(song));
        });
    }
    return *songsByArtist_;
}

const LibraryIndex::Order &LibraryIndex::songsByAlbum()
{
    if (!songsByAlbum_) {
        songsByAlbum_ = songOrder(snapshot_.tracks(), [](const SnapshotSong &song) {
            return std::tuple_cat(std::tuple(song.albumID), albumKey(song));
        });
    }
    return *songsByAlbum_;
}

const LibraryIndex::Order &LibraryIndex::songsByGenre()
{
    if (!songsByGenre_) {
        songsByGenre_ = songOrder(snapshot_.tracks(), [](const SnapshotSong &song) {
            return std::tuple_cat(std::tuple(song.genreRank), albumKey(song));
        });
    }
    return *songsByGenre_;
}

const LibraryIndex::Order &LibraryIndex::albumsByTitle()
{
    if (!albumsByTitle_) {
        albumsByTitle_ = titledOrder(
            *this, albumLeaders(snapshot_.tracks()),
            [](const SnapshotSong &song) { return std::tuple(song.albumTitleRank, song.albumID); },
            &SnapshotSong::albumTitle);
    }
    return *albumsByTitle_;
}

const LibraryIndex::Order &LibraryIndex::albumsByArtist()
{
    if (!albumsByArtist_) {
        // The same albums as by title; each key is an album's own, so their order there is no matter.
        albumsByArtist_ =
            Order{sortedPositions(snapshot_.tracks(), albumsByTitle().positions,
                                  [](const SnapshotSong &song) {
                                      return std::tuple(song.artistRank, song.albumTitleRank, song.albumID);
                                  }),
                  {}};
    }
    return *albumsByArtist_;
}

const LibraryIndex::Order &LibraryIndex::artists()
{
    if (!artists_) {
        auto rank = [](const SnapshotSong &song) {
            return song.artistRank;
        };
        artists_ = titledOrder(*this, firstOfEachName(snapshot_.tracks(), rank, &SnapshotSong::artistName),
                               rank, &SnapshotSong::artistName);
    }
    return *artists_;
}

const LibraryIndex::Order &LibraryIndex::genres()
{
    if (!genres_) {
        auto rank = [](const SnapshotSong &song) {
            return song.genreRank;
        };
        genres_ = titledOrder(*this, firstOfEachName(snapshot_.tracks(), rank, &SnapshotSong::genre), rank,
                              &SnapshotSong::genre);
    }
    return *genres_;
}

const LibraryIndex::Order &LibraryIndex::playlists()
{
    if (!playlists_) {
        const auto &playlists = snapshot_.playlists();
        std::vector<std::uint32_t> positions(playlists.size());
        std::iota(positions.begin(), positions.end(), 0U);
        playlists_ = Order{std::move(positions), sectionsOf(playlists.size(), [&](std::size_t i) {
                               return std::string_view(playlists[i].name);
                           })};
    }
    return *playlists_;
}

} // namespace wheelbox
