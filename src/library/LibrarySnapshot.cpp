#include "library/LibrarySnapshot.hpp"

#include "lib/icu/TextCollator.hpp"
#include "lib/icu/Unicode.hpp"
#include "library/ManagedQueueName.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

namespace wheelbox {

namespace {

// The rank of every text in the pool, from one sort over collation keys of the normalised texts.
std::vector<TextRank> rankTexts(const TextPool &texts, const icu::TextCollator &collator)
{
    std::vector<std::string> keys;
    keys.reserve(texts.size());
    for (TextID id = 0; id < texts.size(); ++id)
        keys.push_back(collator.sortKey(icu::normalizeNFC(texts.text(id))));
    std::vector<std::uint32_t> order(texts.size());
    std::iota(order.begin(), order.end(), 0U);
    std::sort(order.begin(), order.end(), [&](auto left, auto right) { return keys[left] < keys[right]; });

    std::vector<TextRank> ranks(texts.size());
    TextRank rank = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        // Identical-strength keys differ for any two distinct NFC texts; equal keys share a rank.
        if (i > 0 && keys[order[i]] != keys[order[i - 1]])
            ++rank;
        ranks[order[i]] = rank;
    }
    return ranks;
}

std::optional<std::string> trimmedOrAbsent(const std::optional<std::string> &text)
{
    if (!text)
        return std::nullopt;
    // Names travel in list paths, which hold only UTF-8; a badly tagged file may hold anything.
    auto wellFormed = icu::wellFormedUTF8(*text);
    auto trimmed = icu::trimWhitespace(wellFormed);
    if (trimmed.empty())
        return std::nullopt;
    return std::string(trimmed);
}

// A disc or track number as the snapshot keeps it.
std::int16_t clampedNumber(int number)
{
    return static_cast<std::int16_t>(std::clamp<int>(number, INT16_MIN, INT16_MAX));
}

// Seconds as whole milliseconds; anything not a positive finite length (or past 49 days) is unknown.
std::uint32_t durationMilliseconds(double seconds)
{
    double milliseconds = std::round(seconds * 1000);
    if (!(milliseconds >= 1 && milliseconds <= double(UINT32_MAX)))
        return 0;
    return static_cast<std::uint32_t>(milliseconds);
}

bool isKeptPlaylistShape(const LibraryPlaylist &playlist)
{
    return !playlist.name.empty() && playlist.isVisible && !playlist.isPrimary &&
           playlist.distinguishedKind == LibraryDistinguishedKind::none &&
           playlist.kind != LibraryPlaylistKind::folder && !isManagedQueueName(playlist.name);
}

} // namespace

LibrarySnapshot::LibrarySnapshot(LibraryContents contents, const icu::TextCollator &collator)
{
    auto optionalText = [&](const std::optional<std::string> &text) {
        auto trimmed = trimmedOrAbsent(text);
        return trimmed ? texts_.intern(*trimmed) : TextID{0};
    };
    auto makeSong = [&](const LibrarySong &song) {
        SnapshotSong kept;
        kept.persistentID = song.persistentID;
        kept.albumID = song.album.persistentID;
        kept.title = texts_.intern(song.title);
        kept.artistName = optionalText(song.artistName);
        kept.albumTitle = optionalText(song.album.title);
        kept.genre = optionalText(song.genre);
        kept.discNumber = clampedNumber(song.album.discNumber);
        kept.trackNumber = clampedNumber(song.trackNumber);
        kept.durationMilliseconds = durationMilliseconds(song.duration);
        return kept;
    };

    // Per album: the first album artist its songs give, and whether they all share one artist.
    struct AlbumArtistDraft {
        TextID albumArtist = 0;
        TextID sharedArtist = 0;
        bool mixed = false;
    };
    std::unordered_map<std::uint64_t, AlbumArtistDraft> albumArtists;
    auto noteAlbumArtist = [&](const LibrarySong &song, const SnapshotSong &kept) {
        auto [entry, first] = albumArtists.try_emplace(kept.albumID);
        auto &draft = entry->second;
        if (draft.albumArtist == 0)
            draft.albumArtist = optionalText(song.album.artistName);
        if (first)
            draft.sharedArtist = kept.artistName;
        else if (draft.sharedArtist != kept.artistName)
            draft.mixed = true;
    };

    // Songs: only songs with a title, the first of each persistent ID.
    constexpr auto dropped = UINT32_MAX;
    std::vector<std::uint32_t> keptPosition(contents.songs.size(), dropped);
    std::unordered_set<std::uint64_t> libraryTrackIDs;
    tracks_.reserve(contents.songs.size());
    libraryTrackIDs.reserve(contents.songs.size());
    for (std::size_t i = 0; i < contents.songs.size(); ++i) {
        auto &song = contents.songs[i];
        if (song.mediaKind != LibraryMediaKind::song || song.title.empty())
            continue;
        if (!libraryTrackIDs.insert(song.persistentID).second)
            continue;
        keptPosition[i] = static_cast<std::uint32_t>(tracks_.size());
        tracks_.push_back(makeSong(song));
        noteAlbumArtist(song, tracks_.back());
    }
    tracks_.shrink_to_fit();
    for (const auto &[albumID, draft] : albumArtists) {
        TextID artist = draft.albumArtist != 0 ? draft.albumArtist : draft.mixed ? 0 : draft.sharedArtist;
        if (artist != 0)
            albumArtists_.push_back({albumID, artist});
    }
    albumArtists = {};
    std::sort(albumArtists_.begin(), albumArtists_.end(),
              [](const auto &left, const auto &right) { return left.albumID < right.albumID; });
    albumArtists_.shrink_to_fit();

    // Playlists: the user's own, with at least one playable song; their playable entries resolved.
    std::vector<TextID> names;
    for (auto &playlist : contents.playlists) {
        if (!isKeptPlaylistShape(playlist))
            continue;
        SnapshotPlaylist kept{playlist.persistentID, std::move(playlist.name), {}};
        for (auto item : playlist.items) {
            if (item >= contents.songs.size())
                continue;
            if (keptPosition[item] != dropped) {
                kept.entries.push_back(keptPosition[item]);
                continue;
            }
            // A repeated persistent ID: the playlist still plays it, under its own title.
            auto &song = contents.songs[item];
            if (song.mediaKind != LibraryMediaKind::song || song.title.empty() ||
                !libraryTrackIDs.contains(song.persistentID))
                continue;
            kept.entries.push_back(static_cast<std::uint32_t>(tracks_.size() + playlistOnlySongs_.size()));
            keptPosition[item] = kept.entries.back();
            playlistOnlySongs_.push_back(makeSong(song));
        }
        if (kept.entries.empty())
            continue;
        kept.entries.shrink_to_fit();
        names.push_back(texts_.intern(kept.name));
        playlists_.push_back(std::move(kept));
    }
    texts_.seal();

    auto ranks = rankTexts(texts_, collator);
    std::vector<bool> isName(texts_.size());
    for (auto *songs : {&tracks_, &playlistOnlySongs_}) {
        for (auto &song : *songs) {
            song.titleRank = ranks[song.title];
            song.artistRank = ranks[song.artistName];
            song.albumTitleRank = ranks[song.albumTitle];
            song.genreRank = ranks[song.genre];
            isName[song.artistName] = true;
            isName[song.genre] = true;
        }
    }
    for (TextID id = 1; id < texts_.size(); ++id) {
        if (isName[id])
            nameIndex_.push_back({normalizedNames_.intern(icu::normalizeNFC(texts_.text(id))), ranks[id]});
    }
    normalizedNames_.seal();
    auto byName = [&](const NameEntry &left, const NameEntry &right) {
        return normalizedNames_.text(left.name) < normalizedNames_.text(right.name);
    };
    std::sort(nameIndex_.begin(), nameIndex_.end(), byName);
    // Canonically equivalent names share a rank, so one entry each is enough.
    nameIndex_.erase(std::unique(nameIndex_.begin(), nameIndex_.end(),
                                 [](const auto &left, const auto &right) { return left.name == right.name; }),
                     nameIndex_.end());
    nameIndex_.shrink_to_fit();

    std::vector<std::size_t> order(playlists_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](auto left, auto right) { return ranks[names[left]] < ranks[names[right]]; });
    std::vector<SnapshotPlaylist> sorted;
    sorted.reserve(playlists_.size());
    for (auto i : order)
        sorted.push_back(std::move(playlists_[i]));
    playlists_ = std::move(sorted);
}

TextID LibrarySnapshot::albumArtist(std::uint64_t albumID) const noexcept
{
    auto it = std::lower_bound(albumArtists_.begin(), albumArtists_.end(), albumID,
                               [](const AlbumArtist &entry, std::uint64_t id) { return entry.albumID < id; });
    return it != albumArtists_.end() && it->albumID == albumID ? it->artist : 0;
}

std::optional<TextRank> LibrarySnapshot::nameRank(std::string_view name) const
{
    auto normalized = icu::normalizeNFC(name);
    auto it = std::lower_bound(nameIndex_.begin(), nameIndex_.end(), std::string_view(normalized),
                               [&](const NameEntry &entry, std::string_view text) {
                                   return normalizedNames_.text(entry.name) < text;
                               });
    if (it == nameIndex_.end() || normalizedNames_.text(it->name) != normalized)
        return std::nullopt;
    return it->rank;
}

} // namespace wheelbox
