#pragma once

#include "library/LibraryIndex.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace wheelbox {

// What a search found, each kind in the order its own list shows it. Artists, albums, genres and
// songs are positions in LibrarySnapshot::tracks() (for a name, the first song that bears it, as
// the lists take it); playlists are positions in LibrarySnapshot::playlists().
struct SearchMatches {
    std::vector<std::uint32_t> artists;
    std::vector<std::uint32_t> albums;
    std::vector<std::uint32_t> songs;
    std::vector<std::uint32_t> playlists;
    std::vector<std::uint32_t> genres;
};

// Finds names by the starts of their words, built once per snapshot so that a search never walks
// the songs. Every name is folded (icu::foldForSearch) and split into words; each distinct word
// keeps the ascending positions of the names that hold it, delta-encoded. A query word matches
// every word it begins, so it stands for the union of their positions, and the query for the
// intersection of its words' unions, walked in order and only as far as the limit needs. The
// entries are the lists' own orders (LibraryIndex), so matches come in list order without a second
// copy of them. Read-only once built; refers to the orders and their snapshot, which must outlive
// it and stay where they are.
class SearchIndex {
  public:
    explicit SearchIndex(LibraryIndex &orders);
    ~SearchIndex();
    SearchIndex(const SearchIndex &) = delete;
    SearchIndex &operator=(const SearchIndex &) = delete;

    // At most `limit` matches of each kind. Every word of the query must begin a word of the
    // name, in any order; a query without words finds nothing.
    SearchMatches find(std::string_view query, std::size_t limit) const;

    class Words;

  private:
    // The entries of one kind in list order, and the word index over their names. Entries of
    // equal name rank form one group, listed under the group's first position.
    struct Kind {
        const std::vector<std::uint32_t> *entries = nullptr;
        std::function<TextRank(std::uint32_t)> rank;
        std::unique_ptr<Words> words;
    };
    void collect(const Kind &kind, const std::vector<std::string> &query, std::size_t limit,
                 std::vector<std::uint32_t> &out) const;

    const LibrarySnapshot &snapshot_;
    Kind artists_;
    Kind albums_;
    Kind songs_;
    Kind playlists_;
    Kind genres_;
};

} // namespace wheelbox
