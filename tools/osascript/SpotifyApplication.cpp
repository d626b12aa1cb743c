#include "SpotifyApplication.hpp"

#include "MprisModule.hpp"
#include "ValueOperations.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace wheelbox::osascript {
namespace {

constexpr const char *noTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

[[noreturn]] void cannotGet(std::string_view what)
{
    throw ApplicationError("Can’t get " + std::string(what) + ".", errorNumber::cannotGet);
}

template <typename T> const T &reported(const std::optional<T> &property, const char *name)
{
    if (!property)
        cannotGet(name);
    return *property;
}

class SpotifyTrack final : public ObjectReference {
  public:
    SpotifyTrack(Application &application, MprisTrack track)
        : application_(application), track_(std::move(track))
    {}

    Application &application() const noexcept override { return application_; }
    const MprisTrack &track() const noexcept { return track_; }
    std::string describe() const override { return "track id " + describeValue(Value(track_.key())); }
    bool sameObject(const ObjectReference &other) const override
    {
        auto spotify = dynamic_cast<const SpotifyTrack *>(&other);
        return spotify && spotify->track_.key() == track_.key();
    }

  private:
    Application &application_;
    MprisTrack track_;
};

} // namespace

SpotifyApplication::SpotifyApplication(std::unique_ptr<MprisPlayer> player, SpotifyPositionEstimate estimate)
    : player_(std::move(player)), estimate_(std::move(estimate))
{}

SpotifyApplication::~SpotifyApplication() = default;

std::unique_ptr<SpotifyApplication> SpotifyApplication::create()
{
    const char *override = std::getenv("WHEELBOX_SPOTIFY_BUS_NAME");
    return std::make_unique<SpotifyApplication>(
        MprisModule::load(override && *override ? override : defaultBusName),
        SpotifyPositionEstimate::standard());
}

const MprisPlayerState &SpotifyApplication::state()
{
    if (!state_)
        state_ = player_->read(timeout_);
    return *state_;
}

bool SpotifyApplication::isPlaying()
{
    return reported(state().playbackStatus, "PlaybackStatus") == "Playing";
}

double SpotifyApplication::position(const MprisTrack &track)
{
    double seconds = static_cast<double>(state().positionMicroseconds) / 1e6;
    return estimate_.read(track.key(), isPlaying(), seconds,
                          static_cast<double>(track.lengthMicroseconds) / 1e6);
}

Value SpotifyApplication::getProperty(const ObjectReference *object, Property property)
{
    if (object) {
        auto spotify = dynamic_cast<const SpotifyTrack *>(object);
        if (!spotify)
            cannotGet(std::string(propertyName(property)) + " of " + object->describe());
        const auto &track = spotify->track();
        switch (property) {
        case Property::SpotifyURL:
            return Value(track.url);
        case Property::Name:
            return Value(track.title);
        case Property::Artist:
            return Value(track.artist);
        case Property::Album:
            return Value(track.album);
        case Property::Duration:
            // The client's scripting answers whole milliseconds.
            return Value(
                static_cast<std::int64_t>(std::llround(static_cast<double>(track.lengthMicroseconds) / 1e3)));
        default:
            cannotGet(std::string(propertyName(property)) + " of " + object->describe());
        }
    }
    switch (property) {
    case Property::CurrentTrack: {
        const auto &track = state().track;
        if (!track)
            cannotGet("current track");
        return Value(std::make_shared<SpotifyTrack>(*this, *track));
    }
    case Property::PlayerState: {
        const auto &status = reported(state().playbackStatus, "PlaybackStatus");
        return Value(Constant{status == "Playing" ? "playing" : status == "Paused" ? "paused" : "stopped"});
    }
    case Property::PlayerPosition: {
        auto track = state().track;
        return Value(track ? position(*track) : 0.0);
    }
    case Property::SoundVolume: {
        double level = reported(state().volume, "Volume");
        return Value(static_cast<std::int64_t>(
            std::lround(std::clamp(std::isnan(level) ? 0.0 : level, 0.0, 1.0) * 100)));
    }
    case Property::Shuffling:
        return Value(reported(state().shuffle, "Shuffle"));
    case Property::Repeating: {
        const auto &loop = reported(state().loopStatus, "LoopStatus");
        return Value(!loop.empty() && loop != "None");
    }
    case Property::Name:
        return Value("Spotify");
    default:
        cannotGet(propertyName(property));
    }
}

void SpotifyApplication::setProperty(const ObjectReference *object, Property property, const Value &value)
{
    auto refuse = [&] {
        throw ApplicationError(
            "Can’t set " + std::string(propertyName(property)) + " to " + describeValue(value) + ".", -10006);
    };
    if (object)
        refuse();
    switch (property) {
    case Property::PlayerPosition: {
        double target = std::max(0.0, checkedReal(toReal(value), value));
        auto track = state().track;
        if (!track)
            cannotGet("current track");
        bool playing = isPlaying();
        std::int64_t targetMicroseconds = checkedInteger(target * 1e6, value);
        if (track->trackIDIsObjectPath && track->trackID != noTrack) {
            player_->setPosition(track->trackID, targetMicroseconds, timeout_);
        } else {
            // Without a usable track path only a relative seek is possible: from where the
            // player is now, or where it probably is.
            double now = position(*track);
            player_->seek(targetMicroseconds - checkedInteger(now * 1e6, value), timeout_);
        }
        estimate_.moved(track->key(), target, playing);
        state_.reset();
        return;
    }
    case Property::SoundVolume:
        player_->setVolume(std::clamp(checkedReal(toReal(value), value), 0.0, 100.0) / 100.0, timeout_);
        break;
    case Property::Shuffling:
        player_->setShuffle(toBoolean(value), timeout_);
        break;
    case Property::Repeating:
        player_->setLoopStatus(toBoolean(value) ? "Playlist" : "None", timeout_);
        break;
    default:
        refuse();
    }
    state_.reset();
}

Value SpotifyApplication::runCommand(Command command, const std::optional<Value> &directParameter)
{
    if (directParameter)
        throw ApplicationError("Can’t play " + describeValue(*directParameter) + ".",
                               errorNumber::handlerFailed);
    const char *method = nullptr;
    std::optional<bool> playingAfter;
    bool restartsTrack = false;
    switch (command) {
    case Command::PlayPause:
        method = "PlayPause";
        playingAfter = !isPlaying();
        break;
    case Command::Pause:
        method = "Pause";
        playingAfter = false;
        break;
    case Command::Play:
        method = "Play";
        playingAfter = true;
        break;
    case Command::NextTrack:
        method = "Next";
        restartsTrack = true;
        break;
    case Command::PreviousTrack:
        method = "Previous";
        restartsTrack = true;
        break;
    default:
        notUnderstood("Spotify");
    }
    // Where the track is before the command, so the estimate continues from there.
    auto track = state().track;
    double before = track && !restartsTrack ? position(*track) : 0;
    bool wasPlaying = isPlaying();
    player_->call(method, timeout_);
    state_.reset();
    if (track)
        estimate_.moved(track->key(), before, playingAfter.value_or(wasPlaying));
    return Value();
}

} // namespace wheelbox::osascript
