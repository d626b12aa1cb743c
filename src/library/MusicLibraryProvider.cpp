#include "library/MusicLibraryProvider.hpp"

#include "lib/icu/Unicode.hpp"
#include "lib/posix/HeapMemory.hpp"
#include "library/LibraryLists.hpp"
#include "library/LibrarySearch.hpp"
#include "platform/Clock.hpp"
#include "platform/LibrarySource.hpp"

namespace wheelbox {

MusicLibraryProvider::MusicLibraryProvider(LibrarySource &source, const Clock &clock,
                                           const std::string &collationLocale)
    : source_(source), clock_(clock), collator_(collationLocale), initials_(collationLocale)
{
    reload();
}

void MusicLibraryProvider::reload()
{
    // Nothing changed since the read this snapshot was built from: it stands, without another read
    // or sort. Without a snapshot there is nothing to keep, whatever the source says.
    if (library_ && source_.isUnchangedSinceLastOpen()) {
        lastRefresh_ = clock_.uptime();
        return;
    }
    // The old snapshot goes first, so two libraries never sit in memory at once.
    searchIndex_.reset();
    index_.reset();
    library_.reset();
    ++revision_;
    whereMusicGoes_.reset();
    try {
        library_.emplace(source_.open(), collator_);
        index_.emplace(*library_, initials_);
        // The search index reads the lists' orders, the Songs order first: the one every library
        // has and the longest is thus ready before anyone asks, and opening it costs the same at
        // any size.
        searchIndex_.emplace(*index_);
        loadError_.reset();
        if (library_->tracks().empty())
            whereMusicGoes_ = source_.whereMusicGoes();
    } catch (const std::exception &error) {
        searchIndex_.reset();
        index_.reset();
        library_.reset();
        loadError_ = error.what();
    }
    // The read's contents and the build's temporaries are freed by now, but glibc keeps their
    // pages with this thread's arena; lists now answer in windows, so no large answer trims them.
    posix::releaseFreeHeapPages();
    lastRefresh_ = clock_.uptime();
}

void MusicLibraryProvider::reloadIfStale()
{
    if (library_ && lastRefresh_ && clock_.uptime() - *lastRefresh_ > staleAfter)
        reload();
}

MediaList MusicLibraryProvider::list(std::string_view path)
{
    reloadIfStale();
    if (!index_)
        return unavailableLibraryList(path, loadError_);
    // Nothing to browse: every list would be empty, or hold an "All" with nothing in it.
    if (library_->tracks().empty())
        return unavailableLibraryList(path, std::nullopt, whereMusicGoes_);
    return libraryList(*index_, path);
}

MediaListWindow MusicLibraryProvider::window(std::string_view path, std::size_t offset, std::size_t limit)
{
    reloadIfStale();
    MediaListWindow window;
    if (!index_)
        window = unavailableLibraryWindow(path, loadError_, std::nullopt, offset, limit);
    else if (library_->tracks().empty())
        window = unavailableLibraryWindow(path, std::nullopt, whereMusicGoes_, offset, limit);
    else
        window = libraryWindow(*index_, path, offset, limit);
    window.revision = revision_;
    return window;
}

MediaList MusicLibraryProvider::search(std::string_view query)
{
    auto text = searchQuery(query);
    if (icu::trimWhitespace(text).empty())
        return MediaList{std::string(searchListID), std::move(text), {}};
    reloadIfStale();
    if (!searchIndex_) {
        auto list = unavailableLibraryList(searchListID, loadError_);
        list.title = std::move(text);
        return list;
    }
    return searchList(*library_, *searchIndex_, text);
}

std::vector<std::string> MusicLibraryProvider::trackIDs(std::string_view path)
{
    reloadIfStale();
    // The unavailable list has no song rows.
    if (!index_)
        return {};
    return libraryTrackIDs(*index_, path);
}

} // namespace wheelbox
