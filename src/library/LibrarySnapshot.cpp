#include "library/LibrarySnapshot.hpp"

#include "lib/icu/TextCollator.hpp"
#include "lib/icu/Unicode.hpp"
#include "library/ManagedQueueName.hpp"

#include <algorithm>
#include <numeric>

namespace wheelbox {

// Collects every text the lists compare, then ranks them in one sort over collation keys.
class LibrarySnapshot::Ranking {
  public:
    // A placeholder index for the text, resolved to a rank by finish().
    std::uint32_t add(std::string_view text)
    {
        auto normalized = icu::normalizeNFC(text);
        auto [it, inserted] =
            indexByText_.try_emplace(std::move(normalized), static_cast<std::uint32_t>(texts_.size()));
        if (inserted)
            texts_.push_back(&it->first);
        return it->second;
    }

    // Ranks by index; moves the text map into rankByText (text -> rank).
    std::vector<TextRank> finish(const icu::TextCollator &collator,
                                 std::unordered_map<std::string, TextRank> &rankByText)
    {
        std::vector<std::string> keys;
        keys.reserve(texts_.size());
        for (const auto *text : texts_)
            keys.push_back(collator.sortKey(*text));
        std::vector<std::uint32_t> order(texts_.size());
        std::iota(order.begin(), order.end(), 0U);
        std::sort(order.begin(), order.end(),
                  [&](auto left, auto right) { return keys[left] < keys[right]; });

        std::vector<TextRank> rankByIndex(texts_.size());
        TextRank rank = 0;
        for (std::size_t i = 0; i < order.size(); ++i) {
            // Identical-strength keys differ for any two distinct NFC texts; equal keys share a rank.
            if (i > 0 && keys[order[i]] != keys[order[i - 1]])
                ++rank;
            rankByIndex[order[i]] = rank;
        }
        for (auto &[text, index] : indexByText_)
            index = rankByIndex[index];
        rankByText = std::move(indexByText_);
        return rankByIndex;
    }

  private:
    std::unordered_map<std::string, std::uint32_t> indexByText_;
    std::vector<const std::string *> texts_;
};

namespace {

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

bool isKeptPlaylistShape(const LibraryPlaylist &playlist)
{
    return !playlist.name.empty() && playlist.isVisible && !playlist.isPrimary &&
           playlist.distinguishedKind == LibraryDistinguishedKind::none &&
           playlist.kind != LibraryPlaylistKind::folder && !isManagedQueueName(playlist.name);
}

} // namespace

LibrarySnapshot::LibrarySnapshot(LibraryContents contents, const icu::TextCollator &collator)
{
    Ranking ranking;
    emptyTextRank_ = ranking.add("");

    auto makeSong = [&](LibrarySong &song) {
        SnapshotSong kept;
        kept.persistentID = song.persistentID;
        kept.title = std::move(song.title);
        kept.artistName = trimmedOrAbsent(song.artistName);
        kept.albumID = song.album.persistentID;
        kept.albumTitle = trimmedOrAbsent(song.album.title);
        kept.discNumber = song.album.discNumber;
        kept.trackNumber = song.trackNumber;
        kept.genre =
            song.genre ? std::string(icu::trimWhitespace(icu::wellFormedUTF8(*song.genre))) : std::string();
        kept.titleRank = ranking.add(kept.title);
        kept.artistRank = kept.artistName ? ranking.add(*kept.artistName) : emptyTextRank_;
        kept.albumTitleRank = kept.albumTitle ? ranking.add(*kept.albumTitle) : emptyTextRank_;
        kept.genreRank = ranking.add(kept.genre);
        return kept;
    };

    // Songs: only songs with a title, the first of each persistent ID.
    constexpr auto dropped = UINT32_MAX;
    std::vector<std::uint32_t> keptPosition(contents.songs.size(), dropped);
    tracks_.reserve(contents.songs.size());
    libraryTrackIDs_.reserve(contents.songs.size());
    for (std::size_t i = 0; i < contents.songs.size(); ++i) {
        auto &song = contents.songs[i];
        if (song.mediaKind != LibraryMediaKind::song || song.title.empty())
            continue;
        if (!libraryTrackIDs_.insert(song.persistentID).second)
            continue;
        keptPosition[i] = static_cast<std::uint32_t>(tracks_.size());
        tracks_.push_back(makeSong(song));
    }

    // Playlists: the user's own, with at least one playable song; their playable entries resolved.
    std::vector<TextRank> nameIndex;
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
                !libraryTrackIDs_.contains(song.persistentID))
                continue;
            kept.entries.push_back(static_cast<std::uint32_t>(tracks_.size() + playlistOnlySongs_.size()));
            keptPosition[item] = kept.entries.back();
            playlistOnlySongs_.push_back(makeSong(song));
        }
        if (kept.entries.empty())
            continue;
        nameIndex.push_back(ranking.add(kept.name));
        playlists_.push_back(std::move(kept));
    }

    auto ranks = ranking.finish(collator, rankByText_);
    emptyTextRank_ = ranks[emptyTextRank_];
    for (auto *songs : {&tracks_, &playlistOnlySongs_}) {
        for (auto &song : *songs) {
            song.titleRank = ranks[song.titleRank];
            song.artistRank = ranks[song.artistRank];
            song.albumTitleRank = ranks[song.albumTitleRank];
            song.genreRank = ranks[song.genreRank];
        }
    }

    std::vector<std::size_t> order(playlists_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](auto left, auto right) { return ranks[nameIndex[left]] < ranks[nameIndex[right]]; });
    std::vector<SnapshotPlaylist> sorted;
    sorted.reserve(playlists_.size());
    for (auto i : order)
        sorted.push_back(std::move(playlists_[i]));
    playlists_ = std::move(sorted);
}

std::optional<TextRank> LibrarySnapshot::rankOf(std::string_view text) const
{
    auto it = rankByText_.find(icu::normalizeNFC(text));
    if (it == rankByText_.end())
        return std::nullopt;
    return it->second;
}

} // namespace wheelbox
