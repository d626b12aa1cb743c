#include "worker/MediaWorker.hpp"

#include "library/MusicLibraryProvider.hpp"
#include "model/MediaJSON.hpp"
#include "model/PersistentID.hpp"
#include "platform/Artwork.hpp"
#include "platform/Clock.hpp"
#include "platform/LibrarySource.hpp"
#include "platform/UserDefaults.hpp"
#include "transport/ScriptRunner.hpp"
#include "transport/TransportError.hpp"
#include "worker/AboutRecord.hpp"
#include "worker/QueueWindow.hpp"
#include "worker/RequestParameters.hpp"
#include "worker/WorkerError.hpp"

#include <algorithm>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <utility>

#ifndef WHEELBOX_VERSION
#define WHEELBOX_VERSION ""
#endif

namespace wheelbox {
namespace {

namespace parameters = requestParameters;

// The firmware's bridge protocol version.
constexpr std::int64_t bridgeVersion = 1;

bool isRepeatMode(std::string_view mode)
{
    return mode == "Off" || mode == "One" || mode == "All";
}

// 0…100. Negative zero becomes zero, so no script ever reads "-0.0".
double clampedVolume(double volume)
{
    return volume > 0 ? std::min(volume, 100.0) : 0.0;
}

// Directions travel as -1 or +1 only; zero goes forward.
int direction(const boost::json::object &params)
{
    return parameters::integer(params, "direction").value_or(1) < 0 ? -1 : 1;
}

// The album a row of an album list opens: "music/albums/<album>", "music/artists/all/<album>" and
// "music/artists/<artist>/<album>". An artist row ("music/artists/<token>") is never one, even when
// its token happens to read as an identifier.
std::optional<std::uint64_t> albumOfRow(std::string_view id)
{
    constexpr std::string_view albums = "music/albums/";
    constexpr std::string_view artists = "music/artists/";
    std::string_view rest;
    if (id.starts_with(albums)) {
        rest = id.substr(albums.size());
    } else if (id.starts_with(artists)) {
        rest = id.substr(artists.size());
        auto slash = rest.find('/');
        if (slash == std::string_view::npos || slash == 0)
            return std::nullopt;
        rest.remove_prefix(slash + 1);
    } else {
        return std::nullopt;
    }
    return parsePersistentID(rest);
}

// A window's bound: absent, or an integer. Anything else is refused rather than read as absent,
// which would answer with the whole list.
std::optional<std::int64_t> windowBound(const boost::json::object &params, std::string_view key)
{
    if (!params.contains(key))
        return std::nullopt;
    auto value = parameters::integer(params, key);
    if (!value)
        throw WorkerError::invalidParameter(std::string(key));
    return value;
}

// Rows offset … offset+limit-1 of a list, as "getList" and "refreshLibrary" take them.
struct WindowRequest {
    std::size_t offset = 0;
    std::size_t limit = 0;
};

// The window a request asks for; none when it carries neither bound, for the whole list. A
// negative offset starts at the first row, a limit past the largest window is that window, and a
// limit of 0 asks only for the list's length and sections.
std::optional<WindowRequest> windowRequest(const boost::json::object &params)
{
    auto offset = windowBound(params, "offset");
    auto limit = windowBound(params, "limit");
    if (!offset && !limit)
        return std::nullopt;
    constexpr auto largest = MediaWorker::listWindowLimit;
    return WindowRequest{
        static_cast<std::size_t>(std::max<std::int64_t>(offset.value_or(0), 0)),
        static_cast<std::size_t>(std::clamp<std::int64_t>(limit.value_or(largest), 0, largest))};
}

boost::json::value listAnswer(MusicLibraryProvider &library, std::string_view path,
                              const std::optional<WindowRequest> &window)
{
    if (!window)
        return toJSON(library.list(path));
    return toJSON(library.window(path, window->offset, window->limit));
}

} // namespace

const MediaWorker::MethodEntry MediaWorker::methods[] = {
    {"ready", &MediaWorker::ready},
    {"getList", &MediaWorker::getList},
    {"refreshLibrary", &MediaWorker::refreshLibrary},
    {"search", &MediaWorker::search},
    {"select", &MediaWorker::select},
    {"playCollection", &MediaWorker::playCollection},
    {"playPause", &MediaWorker::playPause},
    {"pause", &MediaWorker::pause},
    {"skip", &MediaWorker::skip},
    {"seek", &MediaWorker::seek},
    {"beginSeek", &MediaWorker::beginSeek},
    {"endSeek", &MediaWorker::endSeek},
    {"setVolume", &MediaWorker::setVolume},
    {"setPlaybackSetting", &MediaWorker::setPlaybackSetting},
    {"getNowPlaying", &MediaWorker::getNowPlaying},
    {"setTransport", &MediaWorker::setTransport},
    {"getSettings", &MediaWorker::getSettings},
    {"getAbout", &MediaWorker::getAbout},
};

MediaWorker::MediaWorker(MediaWorkerServices services)
    : runner_(services.runner), defaults_(services.defaults), clock_(services.clock),
      random_(services.random), host_(services.host),
      makeLibrarySource_(std::move(services.makeLibrarySource)),
      collationLocale_(std::move(services.collationLocale)),
      musicTransport_(services.runner, services.applications, services.defaults, services.clock,
                      services.random),
      systemTransport_(musicTransport_, services.runner, services.applications, services.clock),
      activeTransport_(defaults_.string(activeTransportKey) == "music" ? Transport::music
                                                                       : Transport::system),
      artwork_(services.artwork)
{}

MediaWorker::~MediaWorker() = default;

std::string_view MediaWorker::transportID(Transport transport) noexcept
{
    return transport == Transport::music ? "music" : "system";
}

Reply MediaWorker::handle(const Request &request)
{
    for (const auto &method : methods) {
        if (method.name == request.method)
            return (this->*method.run)(request.params);
    }
    throw WorkerError::unknownMethod(request.method);
}

PlaybackTransport &MediaWorker::active() noexcept
{
    if (activeTransport_ == Transport::music)
        return musicTransport_;
    return systemTransport_;
}

std::string MediaWorker::currentPlaybackBackendID() const
{
    if (activeTransport_ == Transport::music)
        return "music";
    return "system:" + std::string(SystemNowPlayingTransport::playerID(systemTransport_.preferredPlayer()));
}

MusicLibraryProvider &MediaWorker::musicLibrary()
{
    if (!musicLibrary_) {
        auto source = makeLibrarySource_();
        if (!source)
            throw std::logic_error("The library source factory made no source.");
        if (collationLocale_)
            musicLibrary_ = std::make_unique<MusicLibraryProvider>(*source, clock_, *collationLocale_);
        else
            musicLibrary_ = std::make_unique<MusicLibraryProvider>(*source, clock_);
        librarySource_ = std::move(source);
    }
    return *musicLibrary_;
}

double MediaWorker::activeVolume() noexcept
{
    return active().volume().value_or(fallbackVolume);
}

std::optional<std::string> MediaWorker::artworkFor(const NowPlayingState &reading)
{
    if (!artwork_)
        return std::nullopt;
    const bool spotify = activeTransport_ == Transport::system &&
                         systemTransport_.preferredPlayer() == SystemNowPlayingTransport::Player::spotify;
    return artwork_->nowPlayingArtwork(reading, spotify ? ArtworkPlayer::spotify : ArtworkPlayer::music);
}

boost::json::object MediaWorker::report(NowPlayingState reading)
{
    // Encoded first: a reading JSON cannot hold is not taken as reported.
    auto object = toJSON(reading).as_object();
    previousArtwork_ = artworkFor(reading);
    previousNowPlaying_ = std::move(reading);
    previousReadAt_ = clock_.uptime();
    if (artwork_) {
        if (previousArtwork_)
            object["artwork"] = *previousArtwork_;
        else
            object["artwork"] = nullptr;
    }
    return object;
}

boost::json::value MediaWorker::withArtwork(boost::json::value json)
{
    if (!artwork_)
        return json;
    for (auto &row : json.as_object()["items"].as_array()) {
        auto &object = row.as_object();
        if (auto album = albumOfRow(object["id"].as_string())) {
            if (auto address = artwork_->albumArtwork(*album))
                object["artwork"] = *address;
        }
    }
    return json;
}

Reply MediaWorker::status(WithVolume withVolume)
{
    boost::json::value reading = report(active().nowPlaying());
    previousPlaybackBackendID_ = currentPlaybackBackendID();
    boost::json::object result;
    result["transport"] = transportID(activeTransport_);
    result["nowPlaying"] = reading;
    if (withVolume == WithVolume::yes)
        result["volume"] = activeVolume();
    return {std::move(result), std::move(reading)};
}

MediaWorker::PlaybackSettings MediaWorker::readPlaybackSettings(const boost::json::object &params)
{
    PlaybackSettings settings;
    auto volume = parameters::number(params, "volume");
    if (!volume || !std::isfinite(*volume))
        throw WorkerError::missingParameter("volume");
    settings.volume = clampedVolume(*volume);
    auto shuffle = parameters::string(params, "shuffle");
    if (shuffle != "Off" && shuffle != "On")
        throw WorkerError::invalidParameter("shuffle");
    settings.shuffle = shuffle == "On";
    auto repeat = parameters::string(params, "repeat");
    if (!repeat || !isRepeatMode(*repeat))
        throw WorkerError::invalidParameter("repeat");
    settings.repeatMode = *repeat;
    return settings;
}

Reply MediaWorker::ready(const boost::json::object &)
{
    auto reading = report(active().nowPlaying());
    previousPlaybackBackendID_ = currentPlaybackBackendID();
    boost::json::object result;
    result["bridgeVersion"] = bridgeVersion;
    result["transport"] = transportID(activeTransport_);
    result["volume"] = activeVolume();
    result["nowPlaying"] = std::move(reading);
    return {std::move(result), std::nullopt};
}

Reply MediaWorker::getList(const boost::json::object &params)
{
    auto path = parameters::string(params, "path").value_or("music");
    auto window = windowRequest(params);
    return {withArtwork(listAnswer(musicLibrary(), path, window)), std::nullopt};
}

Reply MediaWorker::refreshLibrary(const boost::json::object &params)
{
    auto path = parameters::string(params, "path").value_or("music");
    auto window = windowRequest(params);
    // A provider made by this request has just read the library; reading it twice in a row would
    // only double the wait.
    const bool existed = musicLibrary_ != nullptr;
    auto &library = musicLibrary();
    if (existed)
        library.reload();
    return {withArtwork(listAnswer(library, path, window)), std::nullopt};
}

Reply MediaWorker::search(const boost::json::object &params)
{
    auto query = parameters::string(params, "query");
    if (!query)
        throw WorkerError::invalidParameter("query");
    return {withArtwork(toJSON(musicLibrary().search(*query))), std::nullopt};
}

Reply MediaWorker::select(const boost::json::object &params)
{
    auto id = parameters::string(params, "id");
    if (!id)
        throw WorkerError::missingParameter("id");
    auto settings = readPlaybackSettings(params);
    systemTransport_.playItem(*id, settings.shuffle, settings.repeatMode, settings.volume);
    desiredShuffleEnabled_ = settings.shuffle;
    desiredRepeatMode_ = settings.repeatMode;
    return status(WithVolume::no);
}

Reply MediaWorker::playCollection(const boost::json::object &params)
{
    auto path = parameters::string(params, "path");
    if (!path)
        throw WorkerError::missingParameter("path");
    auto id = parameters::string(params, "id");
    if (!id || !id->starts_with(trackIDPrefix))
        throw WorkerError::missingParameter("id");
    auto settings = readPlaybackSettings(params);
    const std::string trackID(id->substr(trackIDPrefix.size()));
    const std::int64_t index = std::max<std::int64_t>(parameters::integer(params, "index").value_or(0), 0);

    auto queue = makeQueueWindow(musicLibrary().trackIDs(*path), index, trackID, queueWindowLimit,
                                 settings.shuffle ? Shuffle::on : Shuffle::off, settings.repeatMode, random_);
    QueueStart start{.volume = settings.volume,
                     .window = std::move(queue.window),
                     .windowIndex = static_cast<std::int64_t>(queue.windowIndex),
                     .chosenID = trackID,
                     .repeatMode = settings.repeatMode,
                     .queue = std::move(queue.queue),
                     .queuePosition = static_cast<std::int64_t>(queue.position),
                     .canonical = std::move(queue.canonical),
                     .canonicalIndices = std::move(queue.canonicalIndices),
                     .shuffle = settings.shuffle,
                     .restore = std::nullopt};
    systemTransport_.startMusicOverSpotify(trackID, [&] { musicTransport_.playQueue(start); });
    systemTransport_.followMusic();
    desiredShuffleEnabled_ = settings.shuffle;
    desiredRepeatMode_ = settings.repeatMode;
    return status(WithVolume::no);
}

Reply MediaWorker::playPause(const boost::json::object &)
{
    active().playPause();
    return status(WithVolume::no);
}

Reply MediaWorker::pause(const boost::json::object &)
{
    active().pause();
    return status(WithVolume::no);
}

Reply MediaWorker::skip(const boost::json::object &params)
{
    active().skip(direction(params));
    return status(WithVolume::no);
}

Reply MediaWorker::seek(const boost::json::object &params)
{
    double seconds = parameters::number(params, "seconds").value_or(0);
    // Negative zero and NaN fail the comparison too.
    if (!std::isfinite(seconds) || !(seconds > 0))
        seconds = 0;
    active().seek(seconds);
    return status(WithVolume::no);
}

Reply MediaWorker::beginSeek(const boost::json::object &params)
{
    active().beginSeek(direction(params));
    return {};
}

Reply MediaWorker::endSeek(const boost::json::object &)
{
    active().endSeek();
    return status(WithVolume::no);
}

Reply MediaWorker::setVolume(const boost::json::object &params)
{
    double volume = parameters::number(params, "volume").value_or(fallbackVolume);
    volume = std::isfinite(volume) ? clampedVolume(volume) : fallbackVolume;
    active().setVolume(volume);
    return {};
}

Reply MediaWorker::setPlaybackSetting(const boost::json::object &params)
{
    auto setting = parameters::string(params, "setting").value_or("");
    auto value = parameters::string(params, "value").value_or("");
    if (setting == "shuffle" && (value == "Off" || value == "On")) {
        active().setShuffle(value == "On");
        desiredShuffleEnabled_ = value == "On";
    } else if (setting == "repeat" && isRepeatMode(value)) {
        active().setRepeat(value);
        desiredRepeatMode_ = value;
    } else {
        throw WorkerError::invalidParameter("setting");
    }
    return {};
}

Reply MediaWorker::getNowPlaying(const boost::json::object &)
{
    return {report(active().nowPlaying()), std::nullopt};
}

Reply MediaWorker::setTransport(const boost::json::object &params)
{
    auto value = parameters::string(params, "transport").value_or("system");
    if (value != "music" && value != "system")
        throw WorkerError::invalidParameter("transport");
    active().endSeek();
    activeTransport_ = value == "music" ? Transport::music : Transport::system;
    defaults_.setString(activeTransportKey, std::string(value));
    return status(WithVolume::yes);
}

Reply MediaWorker::getSettings(const boost::json::object &)
{
    boost::json::object result;
    result["transport"] = transportID(activeTransport_);
    result["volume"] = activeVolume();
    return {std::move(result), std::nullopt};
}

Reply MediaWorker::getAbout(const boost::json::object &)
{
    return {aboutRecord(host_, defaults_, random_, WHEELBOX_VERSION), std::nullopt};
}

std::optional<boost::json::value> MediaWorker::pollNowPlaying(PollTicket poll)
{
    std::optional<boost::json::value> change;
    runner_.runAsPoll(poll.generation, [&] { change = nowPlayingChange(); });
    return change;
}

std::optional<boost::json::value> MediaWorker::nowPlayingChange()
{
    auto reading = active().nowPlaying();
    const auto backend = currentPlaybackBackendID();
    const bool sameBackend = previousPlaybackBackendID_ == backend;
    if (reading == previousNowPlaying_ && sameBackend && artworkFor(reading) == previousArtwork_)
        return std::nullopt;
    auto payload = report(std::move(reading));
    if (sameBackend)
        return payload;

    // Another player took over: it gets the user's shuffle and repeat.
    bool retryLater = false;
    if (activeTransport_ == Transport::system) {
        try {
            active().setShuffle(desiredShuffleEnabled_);
            active().setRepeat(desiredRepeatMode_);
        } catch (const TransportError &error) {
            if (error.kind() == TransportError::Kind::unsupportedSetting && desiredRepeatMode_ == "One" &&
                backend == "system:spotify") {
                desiredRepeatMode_ = "Off";
                payload["repeat"] = "Off";
            } else {
                retryLater = true;
            }
        } catch (const std::exception &) {
            retryLater = true;
        }
    }
    if (auto volume = active().volume())
        payload["volume"] = *volume;
    if (!retryLater)
        previousPlaybackBackendID_ = backend;
    return payload;
}

std::optional<boost::json::value> MediaWorker::artworkChange() noexcept
{
    try {
        if (!artwork_ || artworkFor(previousNowPlaying_) == previousArtwork_)
            return std::nullopt;
        // The reading is as old as its read: while it plays, its position has moved on since.
        const auto readAt = previousReadAt_;
        const auto reading = previousNowPlaying_;
        auto payload = report(reading);
        previousReadAt_ = readAt;
        if (reading.isPlaying) {
            const auto moved = std::chrono::duration<double>(clock_.uptime() - readAt).count();
            double elapsed = reading.elapsed + std::max(moved, 0.0);
            if (reading.duration > 0)
                elapsed = std::min(elapsed, reading.duration);
            payload["elapsed"] = elapsed;
        }
        return payload;
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

void MediaWorker::setArtworkArrivalHandler(std::function<void()> handler)
{
    if (artwork_)
        artwork_->setArrivalHandler(std::move(handler));
}

bool MediaWorker::musicUsesLogicalQueue() noexcept
{
    return musicTransport_.usesLogicalQueue();
}

void MediaWorker::readMusicNowPlaying(PollTicket poll) noexcept
{
    try {
        runner_.runAsPoll(poll.generation, [&] { musicTransport_.nowPlaying(); });
    } catch (const std::exception &) {
        // The next light poll reads again.
    }
}

void MediaWorker::endScans() noexcept
{
    try {
        systemTransport_.endSeek();
    } catch (const std::exception &) {
    }
    try {
        musicTransport_.endSeek();
    } catch (const std::exception &) {
    }
}

PollTicket MediaWorker::issuePollTicket() noexcept
{
    return {runner_.pollGeneration()};
}

void MediaWorker::cancelPolls() noexcept
{
    runner_.cancelPolls();
}

void MediaWorker::cancelRequests() noexcept
{
    runner_.cancelRequests();
}

void MediaWorker::cancelAllScripts() noexcept
{
    runner_.cancelAll();
}

} // namespace wheelbox
