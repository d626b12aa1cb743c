#include "library/MusicLibraryProvider.hpp"

#include "library/LibraryLists.hpp"
#include "model/PersistentID.hpp"
#include "platform/Clock.hpp"
#include "platform/LibrarySource.hpp"

namespace wheelbox {

MusicLibraryProvider::MusicLibraryProvider(LibrarySource &source, const Clock &clock,
                                           const std::string &collationLocale)
    : source_(source), clock_(clock), collator_(collationLocale)
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
    library_.reset();
    whereMusicGoes_.reset();
    try {
        library_.emplace(source_.open(), collator_);
        loadError_.reset();
        if (library_->tracks().empty())
            whereMusicGoes_ = source_.whereMusicGoes();
    } catch (const std::exception &error) {
        library_.reset();
        loadError_ = error.what();
    }
    lastRefresh_ = clock_.uptime();
}

MediaList MusicLibraryProvider::list(std::string_view path)
{
    if (library_ && lastRefresh_ && clock_.uptime() - *lastRefresh_ > staleAfter)
        reload();
    if (!library_)
        return unavailableLibraryList(path, loadError_);
    // Nothing to browse: every list would be empty, or hold an "All" with nothing in it.
    if (library_->tracks().empty())
        return unavailableLibraryList(path, std::nullopt, whereMusicGoes_);
    return libraryList(*library_, path);
}

std::vector<std::string> MusicLibraryProvider::trackIDs(std::string_view path)
{
    auto rows = list(path);
    std::vector<std::string> ids;
    ids.reserve(rows.items.size());
    for (auto &row : rows.items) {
        if (row.id.starts_with(trackIDPrefix))
            ids.push_back(row.id.substr(trackIDPrefix.size()));
    }
    return ids;
}

} // namespace wheelbox
