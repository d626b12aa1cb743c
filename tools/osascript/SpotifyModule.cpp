// The Spotify module: an MPRIS player over GIO behind the plain C boundary of SpotifyModuleABI.h.
// Nothing thrown here leaves it: every entry point catches and reports through its failure.

#include "SpotifyModuleABI.h"
#include "lib/glib/BusConnection.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

struct WheelboxMpris {
    std::string busName;
    wheelbox::glib::ObjectPtr<GDBusConnection> bus;
};

namespace {

namespace glib = wheelbox::glib;

constexpr const char *objectPath = "/org/mpris/MediaPlayer2";
constexpr const char *playerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char *propertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char *noTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

// The AppleScript error numbers the tool reports these failures with.
constexpr int applicationNotRunning = -600;
constexpr int timedOut = -1712;
constexpr int handlerFailed = -10000;

void fail(WheelboxMprisFailure *failure, int number, const char *message) noexcept
{
    failure->number = number;
    std::size_t length = std::min(std::strlen(message), sizeof failure->message - 1);
    // Never cut a UTF-8 sequence in two.
    while (length > 0 && length < std::strlen(message) &&
           (static_cast<unsigned char>(message[length]) & 0xC0) == 0x80)
        --length;
    std::memcpy(failure->message, message, length);
    failure->message[length] = '\0';
}

// A GError in the words the scripts expect.
void fail(WheelboxMprisFailure *failure, GError *error) noexcept
{
    glib::ErrorPtr owned(error);
    if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER))
        return fail(failure, applicationNotRunning, "Application isn’t running.");
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT))
        return fail(failure, timedOut, "AppleEvent timed out.");
    g_dbus_error_strip_remote_error(error);
    fail(failure, handlerFailed, error->message ? error->message : "The player refused the request.");
}

int timeoutOf(int64_t milliseconds) noexcept
{
    return static_cast<int>(std::clamp<int64_t>(milliseconds, 1, std::numeric_limits<int>::max()));
}

// Runs `body` and turns anything it throws into a failure.
template <typename Body> int guarded(WheelboxMprisFailure *failure, Body &&body) noexcept
{
    try {
        return body() ? 1 : 0;
    } catch (const glib::GLibError &error) {
        bool late = error.domain() == G_IO_ERROR && error.code() == G_IO_ERROR_TIMED_OUT;
        fail(failure, late ? timedOut : applicationNotRunning,
             late ? "AppleEvent timed out." : "Application isn’t running.");
    } catch (const std::exception &error) {
        fail(failure, handlerFailed, error.what());
    } catch (...) {
        fail(failure, handlerFailed, "The player refused the request.");
    }
    return 0;
}

// One method call on the player; `parameters` may be floating and is always consumed.
glib::VariantPtr call(WheelboxMpris &player, int64_t timeout, const char *interface, const char *method,
                      GVariant *parameters, const GVariantType *replyType, WheelboxMprisFailure *failure)
{
    glib::VariantPtr owned(parameters ? g_variant_ref_sink(parameters) : nullptr);
    if (!player.bus || g_dbus_connection_is_closed(player.bus.get()))
        player.bus = glib::connectBus(std::nullopt, std::chrono::milliseconds(timeoutOf(timeout)));
    GError *error = nullptr;
    glib::VariantPtr reply(g_dbus_connection_call_sync(
        player.bus.get(), player.busName.c_str(), objectPath, interface, method, owned.get(), replyType,
        G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutOf(timeout), nullptr, &error));
    if (!reply)
        fail(failure, error);
    return reply;
}

glib::VariantPtr lookup(GVariant *dictionary, const char *key)
{
    return glib::VariantPtr(dictionary ? g_variant_lookup_value(dictionary, key, nullptr) : nullptr);
}

// A string, an object path, or a list of strings joined with ", "; else nothing.
char *duplicateText(GVariant *value)
{
    if (!value)
        return nullptr;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ||
        g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH))
        return strdup(g_variant_get_string(value, nullptr));
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY)) {
        std::string joined;
        gsize count = 0;
        const gchar **items = g_variant_get_strv(value, &count);
        for (gsize i = 0; i < count; ++i)
            joined += (i > 0 ? ", " : "") + std::string(items[i]);
        g_free(items);
        return strdup(joined.c_str());
    }
    return strdup("");
}

int64_t integerOf(GVariant *value)
{
    if (!value)
        return 0;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_INT64))
        return g_variant_get_int64(value);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT64))
        return static_cast<int64_t>(std::min<guint64>(g_variant_get_uint64(value), INT64_MAX));
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_INT32))
        return g_variant_get_int32(value);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32))
        return g_variant_get_uint32(value);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_DOUBLE)) {
        double real = g_variant_get_double(value);
        // Out of range or NaN has no integer to be.
        if (!(real > -9.2e18 && real < 9.2e18))
            return 0;
        return static_cast<int64_t>(real);
    }
    return 0;
}

void freeState(WheelboxMprisState *state) noexcept
{
    for (char *text : {state->playbackStatus, state->loopStatus, state->trackID, state->url, state->title,
                       state->artist, state->album})
        std::free(text);
    *state = WheelboxMprisState{};
}

// The metadata dictionary, with the client's quirks: `mpris:trackid` as a string or an object
// path, `mpris:length` as int64 or uint64.
void readTrack(GVariant *metadata, WheelboxMprisState &state)
{
    if (!metadata || !g_variant_is_of_type(metadata, G_VARIANT_TYPE_VARDICT) ||
        g_variant_n_children(metadata) == 0)
        return;
    auto id = lookup(metadata, "mpris:trackid");
    state.trackID = duplicateText(id.get());
    state.trackIDIsObjectPath = state.trackID && g_variant_is_object_path(state.trackID);
    state.url = duplicateText(lookup(metadata, "xesam:url").get());
    state.title = duplicateText(lookup(metadata, "xesam:title").get());
    state.artist = duplicateText(lookup(metadata, "xesam:artist").get());
    state.album = duplicateText(lookup(metadata, "xesam:album").get());
    state.lengthMicroseconds = std::max<int64_t>(0, integerOf(lookup(metadata, "mpris:length").get()));
    auto empty = [](const char *text) {
        return !text || !*text;
    };
    state.hasTrack = !((empty(state.trackID) || std::strcmp(state.trackID, noTrack) == 0) &&
                       empty(state.url) && empty(state.title));
}

WheelboxMpris *open(const char *busName, WheelboxMprisFailure *failure) noexcept
{
    WheelboxMpris *player = nullptr;
    guarded(failure, [&] {
        player = new WheelboxMpris{busName, nullptr};
        return true;
    });
    return player;
}

void close(WheelboxMpris *player) noexcept
{
    delete player;
}

int read(WheelboxMpris *player, int64_t timeout, WheelboxMprisState *state,
         WheelboxMprisFailure *failure) noexcept
{
    *state = WheelboxMprisState{};
    int done = guarded(failure, [&] {
        auto reply = call(*player, timeout, propertiesInterface, "GetAll",
                          g_variant_new("(s)", playerInterface), G_VARIANT_TYPE("(a{sv})"), failure);
        if (!reply)
            return false;
        glib::VariantPtr properties(g_variant_get_child_value(reply.get(), 0));
        state->playbackStatus = duplicateText(lookup(properties.get(), "PlaybackStatus").get());
        state->loopStatus = duplicateText(lookup(properties.get(), "LoopStatus").get());
        if (auto volume = lookup(properties.get(), "Volume")) {
            state->hasVolume = 1;
            state->volume = g_variant_is_of_type(volume.get(), G_VARIANT_TYPE_DOUBLE)
                                ? g_variant_get_double(volume.get())
                                : 0;
        }
        if (auto shuffle = lookup(properties.get(), "Shuffle")) {
            state->hasShuffle = 1;
            state->shuffle = g_variant_is_of_type(shuffle.get(), G_VARIANT_TYPE_BOOLEAN) &&
                             g_variant_get_boolean(shuffle.get());
        }
        state->positionMicroseconds = integerOf(lookup(properties.get(), "Position").get());
        readTrack(lookup(properties.get(), "Metadata").get(), *state);
        return true;
    });
    if (!done)
        freeState(state);
    return done;
}

int callMethod(WheelboxMpris *player, int64_t timeout, const char *method,
               WheelboxMprisFailure *failure) noexcept
{
    return guarded(failure, [&] {
        return call(*player, timeout, playerInterface, method, nullptr, nullptr, failure) != nullptr;
    });
}

int setPosition(WheelboxMpris *player, int64_t timeout, const char *trackPath, int64_t position,
                WheelboxMprisFailure *failure) noexcept
{
    return guarded(failure, [&] {
        if (!g_variant_is_object_path(trackPath)) {
            fail(failure, handlerFailed, "The track has no object path to set a position on.");
            return false;
        }
        return call(*player, timeout, playerInterface, "SetPosition",
                    g_variant_new("(ox)", trackPath, position), nullptr, failure) != nullptr;
    });
}

int seek(WheelboxMpris *player, int64_t timeout, int64_t offset, WheelboxMprisFailure *failure) noexcept
{
    return guarded(failure, [&] {
        return call(*player, timeout, playerInterface, "Seek", g_variant_new("(x)", offset), nullptr,
                    failure) != nullptr;
    });
}

bool setProperty(WheelboxMpris *player, int64_t timeout, const char *name, GVariant *value,
                 WheelboxMprisFailure *failure)
{
    return call(*player, timeout, propertiesInterface, "Set",
                g_variant_new("(ssv)", playerInterface, name, value), nullptr, failure) != nullptr;
}

int setVolume(WheelboxMpris *player, int64_t timeout, double volume, WheelboxMprisFailure *failure) noexcept
{
    return guarded(failure, [&] {
        return setProperty(player, timeout, "Volume", g_variant_new_double(volume), failure);
    });
}

int setShuffle(WheelboxMpris *player, int64_t timeout, int shuffle, WheelboxMprisFailure *failure) noexcept
{
    return guarded(failure, [&] {
        return setProperty(player, timeout, "Shuffle", g_variant_new_boolean(shuffle != 0), failure);
    });
}

int setLoopStatus(WheelboxMpris *player, int64_t timeout, const char *status,
                  WheelboxMprisFailure *failure) noexcept
{
    return guarded(failure, [&] {
        if (!g_utf8_validate(status, -1, nullptr)) {
            fail(failure, handlerFailed, "Not a loop status.");
            return false;
        }
        return setProperty(player, timeout, "LoopStatus", g_variant_new_string(status), failure);
    });
}

constexpr WheelboxMprisFunctions functions = {
    WHEELBOX_MPRIS_ABI_VERSION,
    open,
    close,
    read,
    freeState,
    callMethod,
    setPosition,
    seek,
    setVolume,
    setShuffle,
    setLoopStatus,
};

} // namespace

extern "C" __attribute__((visibility("default"))) const WheelboxMprisFunctions *wheelboxMprisFunctions(void)
{
    return &functions;
}
