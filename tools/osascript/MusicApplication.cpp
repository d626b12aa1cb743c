#include "MusicApplication.hpp"

#include "MusicScanner.hpp"
#include "SongIndex.hpp"
#include "ValueOperations.hpp"
#include "lib/mpd/MpdArgument.hpp"
#include "lib/mpd/MpdCommandList.hpp"
#include "lib/mpd/MpdIdentity.hpp"
#include "lib/mpd/MpdSongTitle.hpp"
#include "lib/mpd/MpdTagByTag.hpp"
#include "model/PersistentID.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <thread>

namespace wheelbox::osascript {

using mpd::argument;
using mpd::MpdError;

namespace {

constexpr int cannotSet = -10006;

using std::chrono::steady_clock;
using namespace std::chrono_literals;

// MPD reports "play" from the moment it hands a song to its decoder, and plays only once the
// decoder has opened the song; a song it cannot open stops it again. For a file on disk that takes
// milliseconds. A reading waits this long for one or the other; a start waits longer, since what
// it reports next decides whether the song started.
constexpr auto readingPatience = 300ms;
constexpr auto startPatience = 2s;
constexpr auto settlePollInterval = 5ms;

// The tags a track shows.
constexpr mpd_tag_type shownTags[] = {MPD_TAG_TITLE, MPD_TAG_ARTIST, MPD_TAG_ALBUM};

// Between the hand-over and the decoder's answer MPD says "play" but shows no audio format.
bool isStarting(const mpd_status &status) noexcept
{
    return mpd_status_get_state(&status) == MPD_STATE_PLAY && !mpd_status_get_audio_format(&status);
}

bool isPlaying(const mpd_status &status) noexcept
{
    return mpd_status_get_state(&status) == MPD_STATE_PLAY && mpd_status_get_audio_format(&status);
}

// The refusal MPD answers a play command with when its decoder gave up on the song at once: ACK 5,
// its code for any failure without one of its own (libmpdclient names it after unknown commands,
// which a play command never is), or 52 for an I/O failure. A bad position or a missing song has
// codes of its own.
bool isDecoderFailure(const MpdError &error) noexcept
{
    auto code = error.serverError();
    return error.error() == MPD_ERROR_SERVER &&
           (code == MPD_SERVER_ERROR_UNKNOWN_CMD || code == MPD_SERVER_ERROR_SYSTEM);
}

std::optional<std::uint64_t> parseID(std::string_view text) noexcept
{
    std::uint64_t id = 0;
    if (text.size() != 16)
        return std::nullopt;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id, 16);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return id;
}

[[noreturn]] void cannotGet(std::string_view what)
{
    throw ApplicationError("Can’t get " + std::string(what) + ".", errorNumber::cannotGet);
}

std::string quoted(std::string_view text)
{
    return describeValue(Value(text));
}

class MusicObject : public ObjectReference {
  public:
    explicit MusicObject(MusicApplication &application) noexcept : application_(application) {}
    Application &application() const noexcept override { return application_; }
    MusicApplication &music() const noexcept { return application_; }

  private:
    MusicApplication &application_;
};

class MusicTrack final : public MusicObject {
  public:
    MusicTrack(MusicApplication &application, std::string uri,
               std::optional<MusicApplication::SongTags> tags = std::nullopt)
        : MusicObject(application), uri_(std::move(uri)), tags_(std::move(tags))
    {}

    const std::string &uri() const noexcept { return uri_; }
    std::string persistentID() const { return formatPersistentID(mpd::songPersistentID(uri_)); }
    const MusicApplication::SongTags &tags() const
    {
        if (!tags_)
            tags_ = music().readTags(uri_);
        return *tags_;
    }

    std::string describe() const override
    {
        return "track id " + quoted(persistentID()) + " of library playlist 1";
    }
    bool sameObject(const ObjectReference &other) const override
    {
        auto track = dynamic_cast<const MusicTrack *>(&other);
        return track && track->uri_ == uri_;
    }

  private:
    std::string uri_;
    mutable std::optional<MusicApplication::SongTags> tags_;
};

class MusicLibraryPlaylist final : public MusicObject {
  public:
    using MusicObject::MusicObject;
    std::string describe() const override { return "library playlist 1"; }
    bool sameObject(const ObjectReference &other) const override
    {
        return dynamic_cast<const MusicLibraryPlaylist *>(&other) != nullptr;
    }
};

class MusicUserPlaylist final : public MusicObject {
  public:
    MusicUserPlaylist(MusicApplication &application, std::string name)
        : MusicObject(application), name_(std::move(name))
    {}

    const std::string &name() const noexcept { return name_; }
    std::string describe() const override { return "user playlist " + quoted(name_); }
    bool sameObject(const ObjectReference &other) const override
    {
        auto playlist = dynamic_cast<const MusicUserPlaylist *>(&other);
        return playlist && playlist->name_ == name_;
    }

  private:
    std::string name_;
};

MusicApplication::SongTags tagsOf(const mpd_song &song)
{
    auto tag = [&](mpd_tag_type type) {
        // MPD passes on some ill-formed UTF-8 from badly tagged files (overlong forms, surrogates);
        // a text of the player's is always well formed.
        const char *value = mpd_song_get_tag(&song, type, 0);
        return value ? wellFormedText(value) : std::string();
    };
    MusicApplication::SongTags tags{tag(MPD_TAG_TITLE), tag(MPD_TAG_ARTIST), tag(MPD_TAG_ALBUM),
                                    mpd_song_get_duration_ms(&song) / 1000.0};
    // An untagged file goes by its file name, as the library lists it.
    if (tags.title.empty())
        tags.title = wellFormedText(mpd::songFileTitle(mpd_song_get_uri(&song)));
    return tags;
}

} // namespace

MusicApplication::MusicApplication(mpd::MpdAddress address) : address_(std::move(address)) {}

MusicApplication::~MusicApplication() = default;

void MusicApplication::setTimeout(std::chrono::milliseconds timeout)
{
    timeout = std::max(timeout, std::chrono::milliseconds(1));
    if (timeout == timeout_)
        return;
    timeout_ = timeout;
    if (connection_)
        connection_->setTimeout(timeout);
}

template <typename Function> auto MusicApplication::request(Function &&exchange)
{
    try {
        return exchange();
    } catch (const MpdError &error) {
        if (error.error() == MPD_ERROR_TIMEOUT)
            throw ApplicationError("AppleEvent timed out.", errorNumber::timedOut);
        // Refused before it was sent: the connection is as good as before.
        if (error.error() == MPD_ERROR_ARGUMENT)
            throw ApplicationError(error.what(), errorNumber::handlerFailed);
        if (error.error() != MPD_ERROR_SERVER) {
            bool wasConnected = connection_.has_value();
            connection_.reset();
            reading_.reset();
            if (!wasConnected)
                throw ApplicationError("Application isn’t running.", errorNumber::applicationNotRunning);
            throw ApplicationError("Connection is invalid.", -609);
        }
        std::string message = error.what();
        if (!message.empty())
            message[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(message[0])));
        if (!message.ends_with('.'))
            message += '.';
        throw ApplicationError(message, errorNumber::handlerFailed);
    }
}

const mpd::MpdConnection &MusicApplication::connection()
{
    if (!connection_) {
        try {
            connection_.emplace(mpd::MpdConnection::open(address_, timeout_));
        } catch (const MpdError &error) {
            if (error.error() == MPD_ERROR_TIMEOUT)
                throw ApplicationError("AppleEvent timed out.", errorNumber::timedOut);
            throw ApplicationError("Application isn’t running.", errorNumber::applicationNotRunning);
        }
    }
    return *connection_;
}

MusicApplication::Reading MusicApplication::readPlayer()
{
    const auto &mpd = connection();
    return request([&] {
        Reading now;
        auto *exchange = mpd.get();
        if (!mpd_command_list_begin(exchange, true) || !mpd_send_status(exchange) ||
            !mpd_send_current_song(exchange) || !mpd_command_list_end(exchange))
            mpd.check();
        now.status.reset(mpd_recv_status(exchange));
        if (now.status && mpd_response_next(exchange))
            now.song.reset(mpd_recv_song(exchange));
        try {
            mpd.check();
            mpd_response_finish(exchange);
            mpd.check();
        } catch (const MpdError &error) {
            // The status came whole before the song's lines.
            if (!now.status || !error.isLineTooLong())
                throw;
            now.song = readAgain(mpd_send_current_song);
        }
        if (!now.status)
            cannotGet("player state");
        return now;
    });
}

MusicApplication::Reading &MusicApplication::settledReading(std::chrono::milliseconds patience)
{
    auto deadline = steady_clock::now() + std::min(patience, timeout_);
    reading_ = readPlayer();
    while (isStarting(*reading_->status) && steady_clock::now() < deadline) {
        std::this_thread::sleep_for(settlePollInterval);
        reading_ = readPlayer();
    }
    return *reading_;
}

MusicApplication::Reading &MusicApplication::reading()
{
    return reading_ ? *reading_ : settledReading(readingPatience);
}

// MPD forgets its current song once its queue has played out; a player keeps the last one,
// stopped. MPD plays the queue in its own order unless random is on (then the order it played is
// gone), and consume takes every song out as it ends, so the queue's last entry is the song that
// played last exactly when neither is at work (or the queue holds one song, whatever the order).
// A queue another client loaded and never played looks the same to MPD and reads the same way.
const mpd_song *MusicApplication::currentSong()
{
    auto &now = reading();
    if (now.song)
        return now.song.get();
    if (!now.lastPlayed) {
        now.lastPlayed.emplace();
        const auto &current = *now.status;
        unsigned length = mpd_status_get_queue_length(&current);
        bool orderKnown = !mpd_status_get_random(&current) || length == 1;
        if (mpd_status_get_state(&current) == MPD_STATE_STOP && length > 0 && orderKnown &&
            !mpd_status_get_consume(&current)) {
            *now.lastPlayed = request([&] {
                return receiveSong([length](mpd_connection *exchange) {
                    return mpd_send_get_queue_song_pos(exchange, length - 1);
                });
            });
        }
    }
    return now.lastPlayed->get();
}

int MusicApplication::currentPosition()
{
    auto song = currentSong();
    return song ? static_cast<int>(mpd_song_get_pos(song)) : -1;
}

// A player given a song it cannot play does not start it, and says nothing: the song is simply not
// playing. MPD either refuses the play command (when its decoder fails before the answer) or
// stops a moment later, and keeps an error in its status that every later client would find. So
// a decoder's failure is no failure here, the start is awaited, and the error it left is cleared.
// MPD clears older errors itself whenever it starts a song, so the one found after a start is
// that start's own.
template <typename Start> void MusicApplication::startPlayback(Start &&start)
{
    const auto &mpd = connection();
    request([&] {
        try {
            start(mpd.get());
            mpd.check();
        } catch (const MpdError &error) {
            if (!isDecoderFailure(error))
                throw;
        }
    });
    const auto &now = *settledReading(startPatience).status;
    if (mpd_status_get_error(&now) && !isPlaying(now)) {
        request([&] {
            mpd_run_clearerror(mpd.get());
            mpd.check();
        });
        changePlayer();
    }
}

void MusicApplication::changePlayer()
{
    reading_.reset();
}

void MusicApplication::invalidateReadings() noexcept
{
    reading_.reset();
}

void MusicApplication::flushAdditions()
{
    if (pendingAdditions_.empty())
        return;
    auto additions = std::exchange(pendingAdditions_, {});
    const auto &mpd = connection();
    request([&] {
        mpd::MpdCommandList list(mpd);
        for (const auto &[playlist, uri] : additions)
            mpd_send_playlist_add(list.get(), argument(playlist), argument(uri));
        list.commit();
    });
}

void MusicApplication::finish()
{
    flushAdditions();
}

MusicApplication::SongTags MusicApplication::readTags(const std::string &uri)
{
    return request([&] {
        const char *name = argument(uri);
        auto song =
            receiveSong([name](mpd_connection *exchange) { return mpd_send_list_meta(exchange, name); });
        if (!song)
            cannotGet("track " + quoted(uri));
        return tagsOf(*song);
    });
}

mpd::SongPtr MusicApplication::receiveSong(const mpd::SongRequest &send)
{
    const auto &mpd = connection();
    if (!send(mpd.get()))
        mpd.check();
    mpd::SongPtr song;
    while (mpd::SongPtr next{mpd_recv_song(mpd.get())}) {
        if (!song)
            song = std::move(next);
    }
    try {
        mpd.check();
        mpd_response_finish(mpd.get());
        mpd.check();
    } catch (const MpdError &error) {
        if (!error.isLineTooLong())
            throw;
        return readAgain(send);
    }
    return song;
}

mpd::SongPtr MusicApplication::readAgain(const mpd::SongRequest &send)
{
    // Back to every tag, as a new connection has them, also after a refusal part way (the
    // connection stays): the run's other reads need them. An MPD too old to choose never chose.
    auto everyTag = [this] {
        if (!mpd_run_all_tag_types(connection_->get()))
            connection_->check();
    };
    mpd::SongPtr song;
    try {
        song = mpd::readSongTagByTag(
            *connection_, [this] { return mpd::MpdConnection::open(address_, timeout_); }, shownTags, send);
    } catch (const MpdError &error) {
        if (error.serverError())
            everyTag();
        throw;
    }
    try {
        everyTag();
    } catch (const MpdError &error) {
        if (!error.serverError())
            throw;
    }
    return song;
}

Value MusicApplication::currentTrack()
{
    auto song = currentSong();
    if (!song)
        cannotGet("current track");
    return Value(std::make_shared<MusicTrack>(*this, mpd_song_get_uri(song), tagsOf(*song)));
}

Value MusicApplication::trackProperty(const ObjectReference &object, Property property)
{
    const auto &track = static_cast<const MusicTrack &>(object);
    switch (property) {
    case Property::PersistentID:
        return Value(track.persistentID());
    case Property::Name:
        return Value(track.tags().title);
    case Property::Artist:
        return Value(track.tags().artist);
    case Property::Album:
        return Value(track.tags().album);
    case Property::Duration:
        return Value(track.tags().duration);
    default:
        cannotGet(std::string(propertyName(property)) + " of " + object.describe());
    }
}

Value MusicApplication::getProperty(const ObjectReference *object, Property property)
{
    if (object) {
        if (dynamic_cast<const MusicTrack *>(object))
            return trackProperty(*object, property);
        if (auto playlist = dynamic_cast<const MusicUserPlaylist *>(object)) {
            if (property == Property::Name)
                return Value(playlist->name());
            if (property == Property::PersistentID)
                return Value(formatPersistentID(mpd::playlistPersistentID(playlist->name())));
        }
        if (dynamic_cast<const MusicLibraryPlaylist *>(object) && property == Property::Name)
            return Value("Library");
        cannotGet(std::string(propertyName(property)) + " of " + object->describe());
    }
    switch (property) {
    case Property::CurrentTrack:
        return currentTrack();
    case Property::PlayerState:
        switch (mpd_status_get_state(&status())) {
        case MPD_STATE_PLAY:
            // A decoder still opening its song plays nothing yet, and may never: not "playing", and
            // not "stopped" either, which would read as the end of the song before.
            return Value(Constant{isPlaying(status()) ? "playing" : "paused"});
        case MPD_STATE_PAUSE:
            return Value(Constant{"paused"});
        default:
            return Value(Constant{"stopped"});
        }
    case Property::PlayerPosition:
        return Value(mpd_status_get_elapsed_ms(&status()) / 1000.0);
    case Property::SoundVolume: {
        int volume = mpd_status_get_volume(&status());
        return volume < 0 ? Value(MissingValue{}) : Value(volume);
    }
    case Property::ShuffleEnabled:
        return Value(mpd_status_get_random(&status()));
    case Property::SongRepeat: {
        auto &current = status();
        if (!mpd_status_get_repeat(&current))
            return Value(Constant{"off"});
        return Value(Constant{mpd_status_get_single_state(&current) == MPD_SINGLE_ON ? "one" : "all"});
    }
    case Property::Name:
        return Value("Music");
    default:
        cannotGet(propertyName(property));
    }
}

void MusicApplication::setProperty(const ObjectReference *object, Property property, const Value &value)
{
    auto refuse = [&] {
        throw ApplicationError("Can’t set " + std::string(propertyName(property)) +
                                   (object ? " of " + object->describe() : std::string()) + " to " +
                                   describeValue(value) + ".",
                               cannotSet);
    };
    if (object)
        refuse();
    const auto &mpd = connection();
    switch (property) {
    case Property::PlayerPosition: {
        // Past the end is the end; MPD takes a float.
        double position = std::clamp(checkedReal(toReal(value), value), 0.0, 1e9);
        request([&] {
            stopScanners(mpd);
            mpd_run_seek_current(mpd.get(), static_cast<float>(position), false);
            mpd.check();
        });
        break;
    }
    case Property::SoundVolume: {
        auto volume = std::clamp<std::int64_t>(checkedInteger(toReal(value), value), 0, 100);
        request([&] {
            mpd_run_set_volume(mpd.get(), static_cast<unsigned>(volume));
            mpd.check();
        });
        break;
    }
    case Property::ShuffleEnabled: {
        bool enabled = toBoolean(value);
        request([&] {
            mpd_run_random(mpd.get(), enabled);
            mpd.check();
        });
        break;
    }
    case Property::SongRepeat: {
        auto mode = value.getIf<Constant>();
        if (!mode || (mode->name != "off" && mode->name != "one" && mode->name != "all"))
            refuse();
        request([&] {
            mpd::MpdCommandList list(mpd);
            mpd_send_repeat(list.get(), mode->name != "off");
            mpd_send_single_state(list.get(), mode->name == "one" ? MPD_SINGLE_ON : MPD_SINGLE_OFF);
            list.commit();
        });
        break;
    }
    default:
        refuse();
    }
    changePlayer();
}

void MusicApplication::play(const std::optional<Value> &target)
{
    const auto &mpd = connection();
    if (!target) {
        startPlayback([](mpd_connection *exchange) { mpd_run_play(exchange); });
        return;
    }
    auto object = target->getIf<ObjectPtr>();
    auto track = object ? dynamic_cast<const MusicTrack *>(object->get()) : nullptr;
    auto playlist = object ? dynamic_cast<const MusicUserPlaylist *>(object->get()) : nullptr;
    if (!track && !playlist)
        throw ApplicationError("Can’t play " + describeValue(*target) + ".", errorNumber::handlerFailed);
    if (playlist && !playlistExists(playlist->name()))
        cannotGet(playlist->describe());
    request([&] {
        // Checked before the list starts, so a refusal leaves the queue as it was.
        const char *source = argument(track ? track->uri() : playlist->name());
        mpd::MpdCommandList list(mpd);
        mpd_send_clear(list.get());
        if (track)
            mpd_send_add(list.get(), source);
        else
            mpd_send_load(list.get(), source);
        list.commit();
    });
    // Apart from the list, so that a refusal of the song is told from a refusal of the queue.
    startPlayback([](mpd_connection *exchange) { mpd_run_play_pos(exchange, 0); });
}

void MusicApplication::scan(int direction)
{
    auto &now = reading();
    const auto &current = *now.status;
    if (mpd_status_get_state(&current) == MPD_STATE_STOP || !now.song)
        return;
    ScanRequest scanRequest{direction, static_cast<unsigned>(mpd_status_get_song_id(&current)),
                            mpd_status_get_elapsed_ms(&current) / 1000.0,
                            mpd_song_get_duration_ms(now.song.get()) / 1000.0};
    try {
        startScanner(address_, scanRequest);
    } catch (const MpdError &) {
        // The scan's own connection failed; this run's connection is as good as before.
        throw ApplicationError("The scan could not start.", errorNumber::handlerFailed);
    }
}

void MusicApplication::skip(int direction)
{
    const auto &mpd = connection();
    if (mpd_status_get_state(&status()) != MPD_STATE_STOP) {
        startPlayback([direction](mpd_connection *exchange) {
            if (direction > 0)
                mpd_run_next(exchange);
            else
                mpd_run_previous(exchange);
        });
        return;
    }
    // MPD refuses next and previous while stopped; a player moves to the neighbouring song and
    // stays stopped. Nothing to move to is no failure either.
    int position = currentPosition();
    int target = position + direction;
    if (position < 0 || target < 0 || target >= static_cast<int>(mpd_status_get_queue_length(&status())))
        return;
    // MPD moves only by playing: play, stop at once, and clear the error a song MPD cannot open
    // leaves behind. When MPD refuses the play for such a song it has already gone on to the song
    // after it, so the stop must still follow; the player then stands past the song, stopped.
    request([&] {
        try {
            mpd::MpdCommandList list(mpd);
            mpd_send_play_pos(list.get(), static_cast<unsigned>(target));
            mpd_send_stop(list.get());
            mpd_send_clearerror(list.get());
            list.commit();
        } catch (const MpdError &error) {
            if (!isDecoderFailure(error))
                throw;
            mpd::MpdCommandList list(mpd);
            mpd_send_stop(list.get());
            mpd_send_clearerror(list.get());
            list.commit();
        }
    });
}

Value MusicApplication::runCommand(Command command, const std::optional<Value> &directParameter)
{
    flushAdditions();
    const auto &mpd = connection();
    // Any player command ends a scan in progress, as pressing a button does in a player.
    request([&] { stopScanners(mpd); });
    auto simple = [&](auto &&send) {
        request([&] {
            send();
            mpd.check();
        });
    };
    switch (command) {
    case Command::PlayPause:
        switch (mpd_status_get_state(&status())) {
        case MPD_STATE_PLAY:
            simple([&] { mpd_run_pause(mpd.get(), true); });
            break;
        case MPD_STATE_PAUSE:
            simple([&] { mpd_run_pause(mpd.get(), false); });
            break;
        default:
            startPlayback([](mpd_connection *exchange) { mpd_run_play(exchange); });
        }
        break;
    case Command::Pause:
        simple([&] { mpd_run_pause(mpd.get(), true); });
        break;
    case Command::Resume:
        if (mpd_status_get_state(&status()) == MPD_STATE_STOP)
            startPlayback([](mpd_connection *exchange) { mpd_run_play(exchange); });
        else
            simple([&] { mpd_run_pause(mpd.get(), false); });
        break;
    case Command::Play:
        play(directParameter);
        break;
    case Command::Stop:
        simple([&] { mpd_run_stop(mpd.get()); });
        break;
    case Command::NextTrack:
    case Command::PreviousTrack:
        skip(command == Command::NextTrack ? 1 : -1);
        break;
    case Command::FastForward:
    case Command::Rewind:
        changePlayer();
        scan(command == Command::FastForward ? 1 : -1);
        break;
    }
    changePlayer();
    return Value();
}

std::vector<std::string> MusicApplication::playlistNames()
{
    const auto &mpd = connection();
    return request([&] {
        std::vector<std::string> names;
        if (!mpd_send_list_playlists(mpd.get()))
            mpd.check();
        while (mpd_playlist *playlist = mpd_recv_playlist(mpd.get())) {
            mpd::PlaylistPtr owned(playlist);
            names.emplace_back(mpd_playlist_get_path(playlist));
        }
        mpd_response_finish(mpd.get());
        mpd.check();
        return names;
    });
}

bool MusicApplication::playlistExists(const std::string &name)
{
    auto names = playlistNames();
    return std::find(names.begin(), names.end(), name) != names.end();
}

const SongIndex &MusicApplication::songIndex()
{
    if (!songIndex_) {
        const auto &mpd = connection();
        songIndex_ = std::make_unique<SongIndex>(request([&] { return SongIndex::load(mpd); }));
    }
    return *songIndex_;
}

std::string MusicApplication::anySongURI()
{
    auto uris = songIndex().all();
    if (uris.empty())
        throw ApplicationError("The library has no songs to make a playlist with.",
                               errorNumber::handlerFailed);
    return std::string(uris.front());
}

Value MusicApplication::element(const ObjectReference *container, ElementClass elementClass, const Value &key)
{
    std::string description = std::string(elementClassName(elementClass)) + " " + describeValue(key);
    if (container)
        cannotGet(description + " of " + container->describe());
    switch (elementClass) {
    case ElementClass::LibraryPlaylist:
        if (key.isNumber() && toReal(key) == 1)
            return Value(std::make_shared<MusicLibraryPlaylist>(*this));
        break;
    case ElementClass::UserPlaylist:
        // A name MPD would refuse names no playlist; it never reaches a command.
        if (auto name = key.getIf<std::string>(); name && mpd::isValidPlaylistName(*name))
            return Value(std::make_shared<MusicUserPlaylist>(*this, *name));
        if (key.isNumber()) {
            auto names = playlistNames();
            auto index = toInteger(key);
            if (index >= 1 && static_cast<std::size_t>(index) <= names.size())
                return Value(
                    std::make_shared<MusicUserPlaylist>(*this, names[static_cast<std::size_t>(index - 1)]));
        }
        break;
    case ElementClass::Track:
        break;
    }
    cannotGet(description);
}

Value MusicApplication::everyElement(const ObjectReference *container, ElementClass elementClass,
                                     const std::optional<ElementFilter> &requestedFilter)
{
    auto filter = requestedFilter;
    auto describeRequest = [&] {
        std::string text = "every " + std::string(elementClassName(elementClass));
        if (container)
            text += " of " + container->describe();
        if (filter)
            text += " whose " + std::string(propertyName(filter->property)) +
                    (filter->negated ? " ≠ " : " = ") + describeValue(filter->value);
        return text;
    };
    List elements;
    if (elementClass == ElementClass::UserPlaylist && !container) {
        flushAdditions();
        for (auto &name : playlistNames()) {
            bool keep = true;
            if (filter) {
                Value property;
                if (filter->property == Property::Name)
                    property = Value(name);
                else if (filter->property == Property::PersistentID)
                    property = Value(formatPersistentID(mpd::playlistPersistentID(name)));
                else
                    cannotGet(describeRequest());
                keep = valuesEqual(property, filter->value) != filter->negated;
            }
            if (keep)
                elements.push_back(Value(std::make_shared<MusicUserPlaylist>(*this, std::move(name))));
        }
        return Value::list(std::move(elements));
    }
    if (elementClass != ElementClass::Track || !container)
        cannotGet(describeRequest());
    if (filter && filter->property != Property::PersistentID)
        cannotGet(describeRequest());

    std::vector<std::string> uris;
    if (dynamic_cast<const MusicLibraryPlaylist *>(container)) {
        if (filter && !filter->negated) {
            // The common question, "the track with this ID", answered from the index.
            auto id =
                filter->value.is<std::string>() ? parseID(filter->value.as<std::string>()) : std::nullopt;
            if (id) {
                for (auto uri : songIndex().find(*id))
                    uris.emplace_back(uri);
            }
            filter.reset();
        } else {
            for (auto uri : songIndex().all())
                uris.emplace_back(uri);
        }
    } else if (auto playlist = dynamic_cast<const MusicUserPlaylist *>(container)) {
        flushAdditions();
        const auto &mpd = connection();
        request([&] {
            if (!mpd_send_list_playlist(mpd.get(), argument(playlist->name())))
                mpd.check();
            while (mpd_pair *pair = mpd_recv_pair_named(mpd.get(), "file")) {
                uris.emplace_back(pair->value);
                mpd_return_pair(mpd.get(), pair);
            }
            mpd_response_finish(mpd.get());
            mpd.check();
        });
    } else {
        cannotGet(describeRequest());
    }
    for (auto &uri : uris) {
        auto track = std::make_shared<MusicTrack>(*this, std::move(uri));
        if (filter && valuesEqual(Value(track->persistentID()), filter->value) == filter->negated)
            continue;
        elements.push_back(Value(std::move(track)));
    }
    return Value::list(std::move(elements));
}

bool MusicApplication::exists(const ObjectReference &object)
{
    if (auto playlist = dynamic_cast<const MusicUserPlaylist *>(&object))
        return playlistExists(playlist->name());
    if (auto track = dynamic_cast<const MusicTrack *>(&object))
        return songExists(track->uri());
    return true;
}

bool MusicApplication::songExists(const std::string &uri)
{
    return request([&] {
        const char *name = argument(uri);
        try {
            return receiveSong([name](mpd_connection *exchange) {
                       return mpd_send_list_meta(exchange, name);
                   }) != nullptr;
        } catch (const MpdError &error) {
            // A file removed from the library: MPD no longer knows the song.
            if (error.serverError() == MPD_SERVER_ERROR_NO_EXIST)
                return false;
            throw;
        }
    });
}

Value MusicApplication::make(ElementClass elementClass, const Record &properties)
{
    if (elementClass != ElementClass::UserPlaylist)
        throw ApplicationError("Can’t make class " + std::string(elementClassName(elementClass)) + ".",
                               errorNumber::handlerFailed);
    std::optional<std::string> name;
    for (const auto &[label, value] : properties) {
        if (label != "name")
            throw ApplicationError("Can’t make a user playlist with the property " + label + ".",
                                   errorNumber::handlerFailed);
        name = toText(value, "");
    }
    if (!name || name->empty())
        throw ApplicationError("A new user playlist needs a name.", errorNumber::handlerFailed);
    if (!mpd::isValidPlaylistName(*name))
        throw ApplicationError("Can’t make a user playlist named " + quoted(*name) + ".",
                               errorNumber::handlerFailed);
    if (playlistExists(*name))
        throw ApplicationError("A user playlist named " + quoted(*name) + " already exists.",
                               errorNumber::handlerFailed);
    // MPD has no command for an empty stored playlist: add a song and take it out again.
    std::string uri = anySongURI();
    const auto &mpd = connection();
    request([&] {
        const char *playlist = argument(*name);
        const char *song = argument(uri);
        mpd::MpdCommandList list(mpd);
        mpd_send_playlist_add(list.get(), playlist, song);
        mpd_send_playlist_delete(list.get(), playlist, 0);
        list.commit();
    });
    return Value(std::make_shared<MusicUserPlaylist>(*this, std::move(*name)));
}

Value MusicApplication::duplicate(const ObjectReference &object, const ObjectReference &to)
{
    auto track = dynamic_cast<const MusicTrack *>(&object);
    auto playlist = dynamic_cast<const MusicUserPlaylist *>(&to);
    if (!track || !playlist)
        throw ApplicationError("Can’t duplicate " + object.describe() + " to " + to.describe() + ".",
                               errorNumber::handlerFailed);
    // Held back and sent as one command list with the others.
    pendingAdditions_.emplace_back(playlist->name(), track->uri());
    return Value(std::make_shared<MusicTrack>(*this, track->uri()));
}

void MusicApplication::remove(const ObjectReference &object)
{
    auto playlist = dynamic_cast<const MusicUserPlaylist *>(&object);
    if (!playlist)
        throw ApplicationError("Can’t delete " + object.describe() + ".", errorNumber::handlerFailed);
    flushAdditions();
    const auto &mpd = connection();
    try {
        request([&] {
            mpd_run_rm(mpd.get(), argument(playlist->name()));
            mpd.check();
        });
    } catch (const ApplicationError &) {
        if (!playlistExists(playlist->name()))
            cannotGet(playlist->describe());
        throw;
    }
}

} // namespace wheelbox::osascript
