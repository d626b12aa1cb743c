#include "library/SearchIndex.hpp"

#include "lib/icu/SearchText.hpp"

#include <algorithm>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <unordered_map>

namespace wheelbox {
namespace {

std::vector<std::string_view> splitWords(std::string_view folded)
{
    std::vector<std::string_view> words;
    std::size_t start = 0;
    while (start < folded.size()) {
        auto space = folded.find(' ', start);
        auto end = space == std::string_view::npos ? folded.size() : space;
        if (end > start)
            words.push_back(folded.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

void appendVarint(std::vector<std::uint8_t> &out, std::uint32_t value)
{
    while (value >= 0x80) {
        out.push_back(static_cast<std::uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<std::uint8_t>(value));
}

std::uint32_t readVarint(const std::uint8_t *&next) noexcept
{
    std::uint32_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
        auto byte = *next++;
        value |= static_cast<std::uint32_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return value;
    }
}

// A place in a long list of positions to jump to: the position before it and the byte where the
// next one starts.
struct Skip {
    std::uint32_t value;
    std::uint32_t offset;
};

// Bytes of positions between two skips: a seek in a long list decodes at most this much.
constexpr std::size_t skipEvery = 256;

// One word's positions, read in ascending order: the first as it is, then the gaps.
struct Cursor {
    std::uint32_t value = 0;
    const std::uint8_t *next = nullptr;
    const std::uint8_t *end = nullptr;
    const std::uint8_t *base = nullptr; // where the skips' offsets count from
    const Skip *skips = nullptr;
    const Skip *skipsEnd = nullptr;

    // Moves to the next position; false at the end.
    bool step() noexcept
    {
        if (next == end)
            return false;
        value += readVarint(next);
        return true;
    }

    // Moves to the first position at or after `target`, jumping over the skips before it; false at
    // the end.
    bool seek(std::uint32_t target) noexcept
    {
        if (skips != skipsEnd) {
            auto after =
                std::partition_point(skips, skipsEnd, [&](const Skip &skip) { return skip.value < target; });
            if (after != skips && (after - 1)->value > value) {
                value = (after - 1)->value;
                next = base + (after - 1)->offset;
            }
        }
        while (value < target) {
            if (!step())
                return false;
        }
        return true;
    }
};

// The ascending union of the positions of every word a query word begins: a heap of cursors.
class Union {
  public:
    void add(Cursor cursor)
    {
        if (cursor.step())
            heap_.push_back(cursor);
    }
    void start() { std::make_heap(heap_.begin(), heap_.end(), later); }

    bool empty() const noexcept { return heap_.empty(); }
    std::uint32_t current() const noexcept { return heap_.front().value; }

    // Moves to the first position at or after `target`.
    void seek(std::uint32_t target)
    {
        while (!heap_.empty() && heap_.front().value < target) {
            std::pop_heap(heap_.begin(), heap_.end(), later);
            if (heap_.back().seek(target))
                std::push_heap(heap_.begin(), heap_.end(), later);
            else
                heap_.pop_back();
        }
    }

  private:
    static bool later(const Cursor &left, const Cursor &right) noexcept { return left.value > right.value; }
    std::vector<Cursor> heap_;
};

struct WordHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept
    {
        return std::hash<std::string_view>{}(text);
    }
};

} // namespace

// The words of one kind's names, sorted by their bytes, each with the ascending positions of the
// names that hold it. Sorted words share long beginnings ("000123", "000124"), so the dictionary
// is front-coded in blocks: each word is the length it shares with the one before, the rest of it,
// and the length of its positions; a block starts with a whole word and records where its words'
// positions start. A search decodes from the block before its prefix.
class SearchIndex::Words {
  public:
    class Builder;
    static constexpr std::size_t wordsPerBlock = 16;

    // Calls `visit` with each position whose name holds every query word as a word start, in
    // ascending order, until it returns false.
    template <typename Visit> void intersect(const std::vector<std::string> &query, Visit visit) const
    {
        std::vector<Union> unions(query.size());
        for (std::size_t i = 0; i < query.size(); ++i) {
            forEachWordBeginningWith(query[i], [&](std::size_t begin, std::size_t end, bool skipped) {
                Cursor cursor{0, postings_.data() + begin, postings_.data() + end};
                if (skipped) {
                    auto first = readVarint(cursor.next);
                    auto count = readVarint(cursor.next);
                    cursor.skips = skips_.data() + first;
                    cursor.skipsEnd = cursor.skips + count;
                }
                cursor.base = cursor.next;
                unions[i].add(cursor);
            });
            if (unions[i].empty())
                return;
            unions[i].start();
        }
        // Each union in turn moves to the highest position any of them holds, until all agree.
        std::uint32_t target = 0;
        for (;;) {
            std::size_t agreeing = 0;
            for (std::size_t i = 0; agreeing < unions.size(); i = (i + 1) % unions.size()) {
                unions[i].seek(target);
                if (unions[i].empty())
                    return;
                if (unions[i].current() == target) {
                    ++agreeing;
                } else {
                    target = unions[i].current();
                    agreeing = 1;
                }
            }
            if (!visit(target) || target == std::numeric_limits<std::uint32_t>::max())
                return;
            ++target;
        }
    }

  private:
    struct Block {
        std::uint32_t dictionary; // offset of its first word
        std::uint32_t postings;   // offset of its first word's positions
    };

    // The first word of a block: it shares nothing with the word before.
    std::string_view firstWord(const Block &block) const noexcept
    {
        const auto *next = dictionary_.data() + block.dictionary;
        readVarint(next);
        auto length = readVarint(next);
        return {reinterpret_cast<const char *>(next), length};
    }

    // Calls `found(begin, end, skipped)` with the byte range of the positions of every word
    // beginning with `prefix` (a long list starts with where its skips are); they are one run in
    // byte order.
    template <typename Found> void forEachWordBeginningWith(std::string_view prefix, Found found) const
    {
        if (blocks_.empty())
            return;
        // The last block whose first word sorts before the prefix: the run starts in it or after.
        auto after = std::partition_point(blocks_.begin(), blocks_.end(),
                                          [&](const Block &block) { return firstWord(block) < prefix; });
        auto block = after == blocks_.begin() ? after : after - 1;
        const auto *next = dictionary_.data() + block->dictionary;
        const auto *end = dictionary_.data() + dictionary_.size();
        std::size_t position = block->postings;
        std::string word;
        while (next < end) {
            auto shared = readVarint(next);
            auto rest = readVarint(next);
            word.resize(shared);
            word.append(reinterpret_cast<const char *>(next), rest);
            next += rest;
            // The length, and in its lowest bit whether the list has skips.
            auto coded = readVarint(next);
            auto length = coded >> 1;
            if (word.starts_with(prefix))
                found(position, position + length, (coded & 1) != 0);
            else if (std::string_view(word) > prefix)
                return;
            position += length;
        }
    }

    std::vector<std::uint8_t> dictionary_;
    std::vector<std::uint8_t> postings_;
    std::vector<Block> blocks_;
    std::vector<Skip> skips_;
};

class SearchIndex::Words::Builder {
  public:
    // Names must come in ascending positions.
    void add(std::uint32_t position, std::string_view name)
    {
        ids_.clear();
        runIDs_.clear();
        // Folding each part between spaces apart is folding the whole (icu::foldForSearch), and
        // names share their parts far more than they share whole texts.
        std::size_t start = 0;
        while (start < name.size()) {
            auto end = std::min(name.find(' ', start), name.size());
            if (end > start) {
                const auto &part = fold(name.substr(start, end - start));
                auto &into = part.withoutWords ? runIDs_ : ids_;
                into.insert(into.end(), part.ids.begin(), part.ids.end());
            }
            start = end + 1;
        }
        auto &ids = ids_.empty() ? runIDs_ : ids_;
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        for (auto id : ids)
            occurrences_.push_back({id, position});
    }

    std::unique_ptr<Words> finish()
    {
        std::vector<std::pair<std::string_view, std::uint32_t>> sorted(wordIDs_.begin(), wordIDs_.end());
        std::sort(sorted.begin(), sorted.end());
        std::vector<std::uint32_t> sortedIndex(sorted.size());
        for (std::size_t i = 0; i < sorted.size(); ++i)
            sortedIndex[sorted[i].second] = static_cast<std::uint32_t>(i);

        // The positions of each word, in the order they were added (ascending).
        std::vector<std::uint32_t> starts(sorted.size() + 1, 0);
        for (auto &[id, position] : occurrences_)
            ++starts[sortedIndex[id] + 1];
        std::partial_sum(starts.begin(), starts.end(), starts.begin());
        std::vector<std::uint32_t> positions(occurrences_.size());
        auto next = starts;
        for (auto &[id, position] : occurrences_)
            positions[next[sortedIndex[id]]++] = position;
        occurrences_ = {};

        auto words = std::make_unique<Words>();
        std::string_view previousWord;
        std::vector<std::uint8_t> encoded;
        std::vector<Skip> listSkips;
        for (std::size_t word = 0; word < sorted.size(); ++word) {
            auto postingsBefore = words->postings_.size();
            if (words->postings_.size() > std::numeric_limits<std::uint32_t>::max() ||
                words->dictionary_.size() > std::numeric_limits<std::uint32_t>::max())
                throw std::length_error("The library's search index is too large");
            std::size_t shared = 0;
            if (word % wordsPerBlock == 0) {
                words->blocks_.push_back({static_cast<std::uint32_t>(words->dictionary_.size()),
                                          static_cast<std::uint32_t>(postingsBefore)});
            } else {
                auto limit = std::min(previousWord.size(), sorted[word].first.size());
                while (shared < limit && previousWord[shared] == sorted[word].first[shared])
                    ++shared;
            }
            // A long list starts with where its skips are, so a seek into it need not decode it all.
            encoded.clear();
            listSkips.clear();
            std::uint32_t previous = 0;
            for (auto i = starts[word]; i < starts[word + 1]; ++i) {
                if (encoded.size() >= (listSkips.size() + 1) * skipEvery)
                    listSkips.push_back({previous, static_cast<std::uint32_t>(encoded.size())});
                appendVarint(encoded, positions[i] - previous);
                previous = positions[i];
            }
            bool skipped = !listSkips.empty();
            if (skipped) {
                appendVarint(words->postings_, static_cast<std::uint32_t>(words->skips_.size()));
                appendVarint(words->postings_, static_cast<std::uint32_t>(listSkips.size()));
                words->skips_.insert(words->skips_.end(), listSkips.begin(), listSkips.end());
            }
            words->postings_.insert(words->postings_.end(), encoded.begin(), encoded.end());
            auto rest = sorted[word].first.substr(shared);
            appendVarint(words->dictionary_, static_cast<std::uint32_t>(shared));
            appendVarint(words->dictionary_, static_cast<std::uint32_t>(rest.size()));
            words->dictionary_.insert(words->dictionary_.end(), rest.begin(), rest.end());
            auto length = words->postings_.size() - postingsBefore;
            if (length > std::numeric_limits<std::uint32_t>::max() / 2)
                throw std::length_error("The library's search index is too large");
            appendVarint(words->dictionary_, static_cast<std::uint32_t>(length << 1 | (skipped ? 1U : 0U)));
            previousWord = sorted[word].first;
        }
        words->dictionary_.shrink_to_fit();
        words->postings_.shrink_to_fit();
        words->blocks_.shrink_to_fit();
        words->skips_.shrink_to_fit();
        return words;
    }

  private:
    struct FoldedPart {
        std::vector<std::uint32_t> ids;
        bool withoutWords = false;
    };

    // A part's words, as ids: plain ASCII is folded on the spot, anything else once per distinct
    // part, since ICU's folding costs far more than a lookup.
    const FoldedPart &fold(std::string_view part)
    {
        bool ascii = std::all_of(part.begin(), part.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (!ascii) {
            if (auto found = parts_.find(part); found != parts_.end())
                return found->second;
        }
        FoldedPart folded;
        auto words = icu::foldForSearch(part, folded.withoutWords);
        std::size_t start = 0;
        while (start < words.size()) {
            auto end = std::min(words.find(' ', start), words.size());
            auto word = std::string_view(words).substr(start, end - start);
            auto found = wordIDs_.find(word);
            if (found == wordIDs_.end())
                found =
                    wordIDs_.emplace(std::string(word), static_cast<std::uint32_t>(wordIDs_.size())).first;
            folded.ids.push_back(found->second);
            start = end + 1;
        }
        if (ascii) {
            scratch_ = std::move(folded);
            return scratch_;
        }
        return parts_.emplace(std::string(part), std::move(folded)).first->second;
    }

    std::unordered_map<std::string, std::uint32_t, WordHash, std::equal_to<>> wordIDs_;
    std::unordered_map<std::string, FoldedPart, WordHash, std::equal_to<>> parts_;
    FoldedPart scratch_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> occurrences_; // word, position
    std::vector<std::uint32_t> ids_;
    std::vector<std::uint32_t> runIDs_; // of parts without letters or digits
};

SearchIndex::SearchIndex(LibraryIndex &orders) : snapshot_(orders.snapshot())
{
    const auto &snapshot = snapshot_;
    const auto &tracks = snapshot.tracks();
    // A name's first song in library order stands for it in these orders, as in the lists, so its
    // row reads and opens the same.
    songs_.entries = &orders.songsByTitle().positions;
    songs_.rank = [&tracks](std::uint32_t i) {
        return tracks[i].titleRank;
    };
    artists_.entries = &orders.artists().positions;
    artists_.rank = [&tracks](std::uint32_t i) {
        return tracks[i].artistRank;
    };
    genres_.entries = &orders.genres().positions;
    genres_.rank = [&tracks](std::uint32_t i) {
        return tracks[i].genreRank;
    };
    albums_.entries = &orders.albumsByTitle().positions;
    albums_.rank = [&tracks](std::uint32_t i) {
        return tracks[i].albumTitleRank;
    };

    // Playlists: each its own, in the snapshot's order (by name).
    playlists_.entries = &orders.playlists().positions;
    playlists_.rank = [](std::uint32_t i) {
        return i;
    };

    auto index = [&](Kind &kind, auto nameOf) {
        Words::Builder builder;
        const auto &entries = *kind.entries;
        for (std::size_t i = 0; i < entries.size();) {
            auto rank = kind.rank(entries[i]);
            builder.add(static_cast<std::uint32_t>(i), nameOf(entries[i]));
            while (i < entries.size() && kind.rank(entries[i]) == rank)
                ++i;
        }
        kind.words = builder.finish();
    };
    auto text = [&](TextID SnapshotSong::*name) {
        return [&snapshot, &tracks, name](std::uint32_t i) {
            return snapshot.text(tracks[i].*name);
        };
    };
    index(artists_, text(&SnapshotSong::artistName));
    index(albums_, text(&SnapshotSong::albumTitle));
    index(songs_, text(&SnapshotSong::title));
    index(genres_, text(&SnapshotSong::genre));
    index(playlists_, [&](std::uint32_t i) { return std::string_view(snapshot.playlists()[i].name); });
}

SearchIndex::~SearchIndex() = default;

void SearchIndex::collect(const Kind &kind, const std::vector<std::string> &query, std::size_t limit,
                          std::vector<std::uint32_t> &out) const
{
    if (limit == 0)
        return;
    kind.words->intersect(query, [&](std::uint32_t group) {
        const auto &entries = *kind.entries;
        auto rank = kind.rank(entries[group]);
        for (auto i = group; i < entries.size() && kind.rank(entries[i]) == rank; ++i) {
            out.push_back(entries[i]);
            if (out.size() == limit)
                return false;
        }
        return true;
    });
}

SearchMatches SearchIndex::find(std::string_view query, std::size_t limit) const
{
    // Held in a variable: a range-for keeps only the outermost temporary alive.
    auto folded = icu::foldForSearch(query);
    std::vector<std::string> words;
    for (auto word : splitWords(folded))
        words.emplace_back(word);
    SearchMatches matches;
    if (words.empty())
        return matches;
    // A word that begins another query word adds nothing the longer one does not already ask.
    // In byte order a word that begins any other begins the one after it.
    std::sort(words.begin(), words.end());
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i + 1 == words.size() || !words[i + 1].starts_with(words[i]))
            kept.push_back(std::move(words[i]));
    }
    collect(artists_, kept, limit, matches.artists);
    collect(albums_, kept, limit, matches.albums);
    collect(songs_, kept, limit, matches.songs);
    collect(playlists_, kept, limit, matches.playlists);
    collect(genres_, kept, limit, matches.genres);
    return matches;
}

} // namespace wheelbox
