#pragma once

#include "model/NowPlayingState.hpp"
#include "transport/MusicAppTransport.hpp"
#include "transport/SystemNowPlayingTransport.hpp"
#include "worker/MediaBackend.hpp"

#include <boost/json/object.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace wheelbox {

class ArtworkSource;
class Clock;
class HostFacts;
class LibrarySource;
class MusicLibraryProvider;
class RandomSource;
class RunningApplications;
class ScriptRunner;
class UserDefaults;
struct MediaList;

// Makes the source the music library is read from (MPD's database in the program).
using LibrarySourceFactory = std::function<std::unique_ptr<LibrarySource>()>;

// What the media worker is built from. Everything referred to must outlive the worker.
struct MediaWorkerServices {
    ScriptRunner &runner;
    RunningApplications &applications;
    UserDefaults &defaults;
    const Clock &clock;
    RandomSource &random;
    HostFacts &host;
    // Called once, on the first request that needs the library.
    LibrarySourceFactory makeLibrarySource;
    // The locale the library's names sort in; nothing for the user's own.
    std::optional<std::string> collationLocale;
    // Where covers come from. Without it no reading and no row carries "artwork".
    ArtworkSource *artwork = nullptr;
};

// The back end of the bridge: runs each firmware method against the music library and the two
// transports, keeps the user's transport choice ("activeTransport") and remembers the last
// now-playing reading, its cover and the playback back end it reported, so that the poll pushes
// only changes and carries the user's shuffle and repeat over to a player that takes over. With an
// artwork source, every now-playing object it writes gains "artwork" (the cover's address, or
// null while none is known) and every album row of a list its row picture's address.
// Used on the bridge's media queue only, one call at a time: no locks. The cancellations alone
// come from the main thread; they reach only the script runner, which is thread-safe.
class MediaWorker final : public MediaBackend {
  public:
    static constexpr std::string_view activeTransportKey = "activeTransport";
    // The temporary playlist of a collection holds at most this many tracks.
    static constexpr std::int64_t queueWindowLimit = 200;
    // A window of a list ("offset", "limit") holds at most this many rows.
    static constexpr std::int64_t listWindowLimit = 500;
    // The volume reported when the active player tells none.
    static constexpr double fallbackVolume = 50.0;

    enum class Transport { music, system };

    explicit MediaWorker(MediaWorkerServices services);
    ~MediaWorker() override;
    MediaWorker(const MediaWorker &) = delete;
    MediaWorker &operator=(const MediaWorker &) = delete;

    // Throws WorkerError, TransportError, ScriptError, LibraryError or JSONCodingError; what() is
    // the text the firmware shows.
    Reply handle(const Request &request) override;
    std::optional<boost::json::value> pollNowPlaying(PollTicket poll) override;
    std::optional<boost::json::value> artworkChange() noexcept override;
    void setArtworkArrivalHandler(std::function<void()> handler) override;
    bool musicUsesLogicalQueue() noexcept override;
    void readMusicNowPlaying(PollTicket poll) noexcept override;
    void endScans() noexcept override;
    PollTicket issuePollTicket() noexcept override;
    void cancelPolls() noexcept override;
    void cancelRequests() noexcept override;
    void cancelAllScripts() noexcept override;

    // "music" when the music transport is active, else "system:" and the player the system
    // transport follows ("system:spotify").
    std::string currentPlaybackBackendID() const;

    // State for diagnostics and tests.
    Transport activeTransport() const noexcept { return activeTransport_; }
    static std::string_view transportID(Transport transport) noexcept;
    const NowPlayingState &previousNowPlaying() const noexcept { return previousNowPlaying_; }
    const std::optional<std::string> &previousArtwork() const noexcept { return previousArtwork_; }
    const std::optional<std::string> &previousPlaybackBackendID() const noexcept
    {
        return previousPlaybackBackendID_;
    }
    bool desiredShuffleEnabled() const noexcept { return desiredShuffleEnabled_; }
    const std::string &desiredRepeatMode() const noexcept { return desiredRepeatMode_; }
    MusicAppTransport &musicTransport() noexcept { return musicTransport_; }
    SystemNowPlayingTransport &systemTransport() noexcept { return systemTransport_; }
    bool hasMusicLibrary() const noexcept { return musicLibrary_ != nullptr; }

  private:
    using Method = Reply (MediaWorker::*)(const boost::json::object &);
    struct MethodEntry {
        std::string_view name;
        Method run;
    };
    // The firmware's methods, checked in this order.
    static const MethodEntry methods[];

    // What "select" and "playCollection" carry besides the track.
    struct PlaybackSettings {
        double volume = 0;
        bool shuffle = false;
        std::string repeatMode;
    };
    static PlaybackSettings readPlaybackSettings(const boost::json::object &params);

    PlaybackTransport &active() noexcept;
    // Created on first use, with its first read of the library.
    MusicLibraryProvider &musicLibrary();
    double activeVolume() noexcept;
    // Reads the active transport, remembers the reading and the back end, and answers with the
    // status object ("transport", "nowPlaying", and "volume" when asked for) and the reading.
    enum class WithVolume { no, yes };
    Reply status(WithVolume withVolume);
    // The active player's reading when it differs from the one reported last.
    std::optional<boost::json::value> nowPlayingChange();
    // Takes `reading` as the one reported now, with its cover, and writes it.
    boost::json::object report(NowPlayingState reading);
    std::optional<std::string> artworkFor(const NowPlayingState &reading);
    // A list's JSON (whole, a window or search's matches), its album rows with their pictures.
    boost::json::value withArtwork(boost::json::value json);

    Reply ready(const boost::json::object &params);
    Reply getList(const boost::json::object &params);
    Reply refreshLibrary(const boost::json::object &params);
    // "query" (a string): the library's search list (MusicLibraryProvider::search).
    Reply search(const boost::json::object &params);
    Reply select(const boost::json::object &params);
    Reply playCollection(const boost::json::object &params);
    Reply playPause(const boost::json::object &params);
    Reply pause(const boost::json::object &params);
    Reply skip(const boost::json::object &params);
    Reply seek(const boost::json::object &params);
    Reply beginSeek(const boost::json::object &params);
    Reply endSeek(const boost::json::object &params);
    Reply setVolume(const boost::json::object &params);
    Reply setPlaybackSetting(const boost::json::object &params);
    Reply getNowPlaying(const boost::json::object &params);
    Reply setTransport(const boost::json::object &params);
    Reply getSettings(const boost::json::object &params);
    Reply getAbout(const boost::json::object &params);

    ScriptRunner &runner_;
    UserDefaults &defaults_;
    const Clock &clock_;
    RandomSource &random_;
    HostFacts &host_;
    LibrarySourceFactory makeLibrarySource_;
    std::optional<std::string> collationLocale_;

    std::unique_ptr<LibrarySource> librarySource_;
    std::unique_ptr<MusicLibraryProvider> musicLibrary_;
    MusicAppTransport musicTransport_;
    SystemNowPlayingTransport systemTransport_;
    Transport activeTransport_;
    ArtworkSource *artwork_;
    NowPlayingState previousNowPlaying_ = NowPlayingState::empty();
    std::optional<std::string> previousArtwork_;
    // When previousNowPlaying_ was read, so a cover pushed later moves its position on.
    std::chrono::nanoseconds previousReadAt_{};
    std::optional<std::string> previousPlaybackBackendID_;
    bool desiredShuffleEnabled_ = false;
    std::string desiredRepeatMode_ = "Off";
};

} // namespace wheelbox
