#include "linux/MpdLibraryGate.hpp"

#include "lib/mpd/MpdPointers.hpp"

#include <thread>

namespace wheelbox {

MpdLibraryGate::MpdLibraryGate(std::unique_ptr<LibrarySource> library, mpd::MpdAddress address,
                               std::shared_ptr<const MpdServerStatus> status, Settings settings)
    : library_(std::move(library)), address_(std::move(address)), status_(std::move(status)),
      settings_(std::move(settings))
{}

LibraryContents MpdLibraryGate::open()
{
    auto deadline = std::chrono::steady_clock::now() + settings_.scanWait;
    auto waitLonger = [&] {
        bool quitting = settings_.quitting && settings_.quitting->load();
        if (quitting || std::chrono::steady_clock::now() + settings_.pollInterval > deadline)
            return false;
        std::this_thread::sleep_for(settings_.pollInterval);
        return true;
    };
    while (status_) {
        auto reading = status_->read();
        if (!reading.unavailable)
            break;
        if (!reading.recovering || !waitLonger())
            throw LibrarySourceError(*reading.unavailable);
    }
    while (isScanningEmptyDatabase()) {
        if (!waitLonger())
            throw LibrarySourceError(loadingText);
    }
    return library_->open();
}

bool MpdLibraryGate::isUnchangedSinceLastOpen() noexcept
{
    // While the MPD is down or being started again, only a full read may say what it holds.
    try {
        if (status_ && status_->read().unavailable)
            return false;
    } catch (const std::exception &) {
        return false;
    }
    return library_->isUnchangedSinceLastOpen();
}

std::optional<std::string> MpdLibraryGate::whereMusicGoes() const
{
    if (settings_.ownMusicFolder)
        return "Put music in " + settings_.ownMusicFolder->string() +
               ", the folder Wheelbox\u2019s own MPD reads, then select No Music Found.";
    return "The MPD at " + mpd::describe(address_) +
           " has no songs: add music to its folder, then select No Music Found.";
}

bool MpdLibraryGate::isScanningEmptyDatabase() const
{
    try {
        auto connection = mpd::MpdConnection::open(address_, std::chrono::seconds(2));
        mpd::StatusPtr status(mpd_run_status(connection.get()));
        connection.check();
        if (!status || mpd_status_get_update_id(status.get()) == 0)
            return false;
        mpd::StatsPtr stats(mpd_run_stats(connection.get()));
        connection.check();
        // A database that was never saved (its stamp is 0) is a first scan's: songs arrive as
        // the scan walks the folder, so a count alone would let a half-read library through.
        return stats && (mpd_stats_get_db_update_time(stats.get()) == 0 ||
                         mpd_stats_get_number_of_songs(stats.get()) == 0);
    } catch (const std::exception &) {
        // The library's own read says what is wrong.
        return false;
    }
}

} // namespace wheelbox
