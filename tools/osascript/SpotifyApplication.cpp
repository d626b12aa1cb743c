#include "SpotifyApplication.hpp"

#include "ValueOperations.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace wheelbox::osascript {
namespace {

constexpr const char *objectPath = "/org/mpris/MediaPlayer2";
constexpr const char *playerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char *propertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char *noTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

[[noreturn]] void cannotGet(std::string_view what)
{
    throw ApplicationError("Can’t get " + std::string(what) + ".", errorNumber::cannotGet);
}

[[noreturn]] void translate(GError *error)
{
    glib::ErrorPtr owned(error);
    if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER))
        throw ApplicationError("Application isn’t running.", errorNumber::applicationNotRunning);
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT))
        throw ApplicationError("AppleEvent timed out.", errorNumber::timedOut);
    glib::CharPtr remote(g_dbus_error_get_remote_error(error));
    g_dbus_error_strip_remote_error(error);
    throw ApplicationError(error->message ? error->message : "The player refused the request.",
                           errorNumber::handlerFailed);
}

glib::VariantPtr lookup(GVariant *dictionary, const char *key)
{
    return glib::VariantPtr(g_variant_lookup_value(dictionary, key, nullptr));
}

std::string stringOf(GVariant *value)
{
    if (!value)
        return {};
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ||
        g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH))
        return g_variant_get_string(value, nullptr);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY)) {
        std::string joined;
        gsize count = 0;
        const gchar **items = g_variant_get_strv(value, &count);
        for (gsize i = 0; i < count; ++i)
            joined += (i > 0 ? ", " : "") + std::string(items[i]);
        g_free(items);
        return joined;
    }
    return {};
}

std::int64_t integerOf(GVariant *value)
{
    if (!value)
        return 0;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_INT64))
        return g_variant_get_int64(value);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT64))
        return static_cast<std::int64_t>(std::min<guint64>(g_variant_get_uint64(value), INT64_MAX));
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_INT32))
        return g_variant_get_int32(value);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32))
        return g_variant_get_uint32(value);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_DOUBLE))
        return static_cast<std::int64_t>(g_variant_get_double(value));
    return 0;
}

class SpotifyTrack final : public ObjectReference {
  public:
    SpotifyTrack(Application &application, SpotifyApplication::Track track)
        : application_(application), track_(std::move(track))
    {}

    Application &application() const noexcept override { return application_; }
    const SpotifyApplication::Track &track() const noexcept { return track_; }
    std::string describe() const override { return "track id " + describeValue(Value(track_.key())); }
    bool sameObject(const ObjectReference &other) const override
    {
        auto spotify = dynamic_cast<const SpotifyTrack *>(&other);
        return spotify && spotify->track_.key() == track_.key();
    }

  private:
    Application &application_;
    SpotifyApplication::Track track_;
};

} // namespace

SpotifyApplication::SpotifyApplication(std::string busName, SpotifyPositionEstimate estimate)
    : busName_(std::move(busName)), estimate_(std::move(estimate))
{}

SpotifyApplication::~SpotifyApplication() = default;

std::unique_ptr<SpotifyApplication> SpotifyApplication::create()
{
    const char *override = std::getenv("WHEELBOX_SPOTIFY_BUS_NAME");
    return std::make_unique<SpotifyApplication>(override && *override ? override : defaultBusName,
                                                SpotifyPositionEstimate::standard());
}

std::optional<SpotifyApplication::Track> SpotifyApplication::parseMetadata(GVariant *metadata)
{
    if (!metadata || !g_variant_is_of_type(metadata, G_VARIANT_TYPE_VARDICT) ||
        g_variant_n_children(metadata) == 0)
        return std::nullopt;
    Track track;
    if (auto id = lookup(metadata, "mpris:trackid")) {
        track.trackID = stringOf(id.get());
        track.trackIDIsObjectPath = g_variant_is_object_path(track.trackID.c_str());
    }
    track.url = stringOf(lookup(metadata, "xesam:url").get());
    track.title = stringOf(lookup(metadata, "xesam:title").get());
    track.artist = stringOf(lookup(metadata, "xesam:artist").get());
    track.album = stringOf(lookup(metadata, "xesam:album").get());
    track.lengthMicroseconds = std::max<std::int64_t>(0, integerOf(lookup(metadata, "mpris:length").get()));
    if ((track.trackID.empty() || track.trackID == noTrack) && track.url.empty() && track.title.empty())
        return std::nullopt;
    return track;
}

GDBusConnection *SpotifyApplication::bus()
{
    if (!bus_) {
        GError *error = nullptr;
        bus_.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error));
        if (!bus_) {
            glib::ErrorPtr owned(error);
            throw ApplicationError("Application isn’t running.", errorNumber::applicationNotRunning);
        }
    }
    return bus_.get();
}

glib::VariantPtr SpotifyApplication::call(const char *interface, const char *method, GVariant *parameters,
                                          const GVariantType *replyType)
{
    GError *error = nullptr;
    auto timeout = static_cast<int>(std::min<std::int64_t>(timeout_.count(), G_MAXINT));
    glib::VariantPtr reply(g_dbus_connection_call_sync(bus(), busName_.c_str(), objectPath, interface, method,
                                                       parameters, replyType, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                                       std::max(timeout, 1), nullptr, &error));
    if (!reply)
        translate(error);
    return reply;
}

GVariant *SpotifyApplication::playerProperties()
{
    if (!properties_) {
        auto reply = call(propertiesInterface, "GetAll", g_variant_new("(s)", playerInterface),
                          G_VARIANT_TYPE("(a{sv})"));
        properties_.reset(g_variant_get_child_value(reply.get(), 0));
    }
    return properties_.get();
}

GVariant *SpotifyApplication::playerProperty(const char *name)
{
    // Kept alive by the cached dictionary until the next invalidation.
    auto value = lookup(playerProperties(), name);
    if (!value)
        cannotGet(name);
    GVariant *raw = value.get();
    retained_.push_back(std::move(value));
    return raw;
}

void SpotifyApplication::setPlayerProperty(const char *name, GVariant *value)
{
    call(propertiesInterface, "Set", g_variant_new("(ssv)", playerInterface, name, value), nullptr);
    properties_.reset();
}

bool SpotifyApplication::isPlaying()
{
    return stringOf(playerProperty("PlaybackStatus")) == "Playing";
}

std::optional<SpotifyApplication::Track> SpotifyApplication::currentTrackInfo()
{
    auto metadata = lookup(playerProperties(), "Metadata");
    return parseMetadata(metadata.get());
}

double SpotifyApplication::position(const Track &track)
{
    auto reported = lookup(playerProperties(), "Position");
    double seconds = static_cast<double>(integerOf(reported.get())) / 1e6;
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
        auto track = currentTrackInfo();
        if (!track)
            cannotGet("current track");
        return Value(std::make_shared<SpotifyTrack>(*owner_, std::move(*track)));
    }
    case Property::PlayerState: {
        auto status = stringOf(playerProperty("PlaybackStatus"));
        return Value(Constant{status == "Playing" ? "playing" : status == "Paused" ? "paused" : "stopped"});
    }
    case Property::PlayerPosition: {
        auto track = currentTrackInfo();
        return Value(track ? position(*track) : 0.0);
    }
    case Property::SoundVolume: {
        auto volume = playerProperty("Volume");
        double level = g_variant_is_of_type(volume, G_VARIANT_TYPE_DOUBLE) ? g_variant_get_double(volume) : 0;
        return Value(static_cast<std::int64_t>(std::lround(std::clamp(level, 0.0, 1.0) * 100)));
    }
    case Property::Shuffling: {
        auto shuffle = playerProperty("Shuffle");
        return Value(g_variant_is_of_type(shuffle, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(shuffle));
    }
    case Property::Repeating: {
        auto loop = stringOf(playerProperty("LoopStatus"));
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
        double target = std::max(0.0, toReal(value));
        auto track = currentTrackInfo();
        if (!track)
            cannotGet("current track");
        bool playing = isPlaying();
        auto targetMicroseconds = static_cast<gint64>(std::llround(target * 1e6));
        if (track->trackIDIsObjectPath && track->trackID != noTrack) {
            call(playerInterface, "SetPosition",
                 g_variant_new("(ox)", track->trackID.c_str(), targetMicroseconds), nullptr);
        } else {
            // Without a usable track path only a relative seek is possible: from where the
            // player is now, or where it probably is.
            double now = position(*track);
            call(playerInterface, "Seek", g_variant_new("(x)", targetMicroseconds - std::llround(now * 1e6)),
                 nullptr);
        }
        estimate_.moved(track->key(), target, playing);
        properties_.reset();
        return;
    }
    case Property::SoundVolume:
        setPlayerProperty("Volume", g_variant_new_double(std::clamp(toReal(value), 0.0, 100.0) / 100.0));
        return;
    case Property::Shuffling:
        setPlayerProperty("Shuffle", g_variant_new_boolean(toBoolean(value)));
        return;
    case Property::Repeating:
        setPlayerProperty("LoopStatus", g_variant_new_string(toBoolean(value) ? "Playlist" : "None"));
        return;
    default:
        refuse();
    }
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
    auto track = currentTrackInfo();
    double before = track && !restartsTrack ? position(*track) : 0;
    bool wasPlaying = isPlaying();
    call(playerInterface, method, nullptr, nullptr);
    properties_.reset();
    if (track)
        estimate_.moved(track->key(), before, playingAfter.value_or(wasPlaying));
    return Value();
}

} // namespace wheelbox::osascript
