#pragma once

#include "lib/icu/InitialLetters.hpp"
#include "lib/icu/TextCollator.hpp"
#include "library/LibraryIndex.hpp"
#include "library/LibraryProvider.hpp"
#include "library/LibrarySnapshot.hpp"
#include "library/SearchIndex.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace wheelbox {

class Clock;
class LibrarySource;

// The user's music library as lists, read from a library source into a snapshot that is read
// again when it is more than a minute old or when the user asks. A failed read is remembered and
// shown as the unavailable list, with a retry row, until the next reload(). A library without a
// song shows that list too, its one row saying where music goes, as the source tells.
// Owned by the media worker and used only on its queue: no locks.
class MusicLibraryProvider final : public LibraryProvider {
  public:
    static constexpr std::chrono::seconds staleAfter{60};

    // Reads the library once before returning. Names sort in the user's collation locale unless
    // one is given ("" is the root locale).
    MusicLibraryProvider(LibrarySource &source, const Clock &clock,
                         const std::string &collationLocale = icu::TextCollator::localeFromEnvironment());

    const std::string &id() const noexcept override { return id_; }

    // Reads the whole library again, unless the source can tell that it is unchanged since the
    // read the snapshot was built from. Never fails: a failure leaves the provider unavailable.
    void reload();

    // Throws LibraryError.
    MediaList list(std::string_view path) override;

    // Rows offset … offset+limit-1 of the list (fewer or none past its end), its length, its
    // sections when it is sorted by its rows' titles, and the revision. Throws LibraryError.
    MediaListWindow window(std::string_view path, std::size_t offset, std::size_t limit);

    // The artists, albums, songs, playlists and genres whose names match the query, as the list
    // "search" (LibrarySearch.hpp). A blank query finds nothing and reads nothing; otherwise the
    // staleness rule and the unavailable list of a failed load are those of list(); a library
    // without songs simply finds nothing.
    MediaList search(std::string_view query);

    // The songs a path plays, in list order, as hex persistent IDs. Throws LibraryError.
    std::vector<std::string> trackIDs(std::string_view path);

    bool isLoaded() const noexcept { return library_.has_value(); }
    const std::optional<std::string> &loadError() const noexcept { return loadError_; }
    // Changes with every read of the library, so rows of two reads are never taken for one list.
    std::uint64_t revision() const noexcept { return revision_; }

  private:
    void reloadIfStale();

    LibrarySource &source_;
    const Clock &clock_;
    icu::TextCollator collator_;
    icu::InitialLetters initials_;

    const std::string id_ = "music";
    std::optional<LibrarySnapshot> library_;
    // The lists' orders over library_: those the search reads and the songs' with each read, the
    // others as lists ask for them.
    std::optional<LibraryIndex> index_;
    // Words of the names over index_'s orders, built with each snapshot and dropped with it.
    std::optional<SearchIndex> searchIndex_;
    std::uint64_t revision_ = 0;
    std::optional<std::string> loadError_;
    // Asked of the source when a load finds no song.
    std::optional<std::string> whereMusicGoes_;
    // Uptime at the end of the last load. Monotonic, so a change of the wall clock neither
    // freezes nor forces refreshes.
    std::optional<std::chrono::nanoseconds> lastRefresh_;
};

} // namespace wheelbox
