#include "linux/MprisArtwork.hpp"

#include "lib/glib/GLibPointers.hpp"

#include <algorithm>

namespace wheelbox {
namespace {

std::string stringEntry(GVariant *metadata, const char *key)
{
    glib::VariantPtr value(g_variant_lookup_value(metadata, key, G_VARIANT_TYPE_STRING));
    if (!value)
        value.reset(g_variant_lookup_value(metadata, key, G_VARIANT_TYPE_OBJECT_PATH));
    return value ? g_variant_get_string(value.get(), nullptr) : "";
}

std::string firstOfList(GVariant *metadata, const char *key)
{
    glib::VariantPtr value(g_variant_lookup_value(metadata, key, G_VARIANT_TYPE_STRING_ARRAY));
    if (value && g_variant_n_children(value.get()) > 0) {
        glib::VariantPtr first(g_variant_get_child_value(value.get(), 0));
        return g_variant_get_string(first.get(), nullptr);
    }
    return stringEntry(metadata, key);
}

} // namespace

std::optional<MprisTrackArtwork> readMprisArtwork(GDBusConnection *bus, const std::string &busName,
                                                  std::chrono::milliseconds timeout, GCancellable *cancel)
{
    GError *error = nullptr;
    const int milliseconds =
        static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 1, G_MAXINT));
    glib::VariantPtr reply(g_dbus_connection_call_sync(
        bus, busName.c_str(), "/org/mpris/MediaPlayer2", "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.mpris.MediaPlayer2.Player", "Metadata"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, milliseconds, cancel, &error));
    if (!reply) {
        g_clear_error(&error);
        return std::nullopt;
    }
    glib::VariantPtr boxed(g_variant_get_child_value(reply.get(), 0));
    glib::VariantPtr metadata(g_variant_get_variant(boxed.get()));
    if (!g_variant_is_of_type(metadata.get(), G_VARIANT_TYPE_VARDICT))
        return std::nullopt;
    MprisTrackArtwork track;
    track.artUrl = stringEntry(metadata.get(), "mpris:artUrl");
    track.url = stringEntry(metadata.get(), "xesam:url");
    track.album = stringEntry(metadata.get(), "xesam:album");
    track.albumArtist = firstOfList(metadata.get(), "xesam:albumArtist");
    if (track.albumArtist.empty())
        track.albumArtist = firstOfList(metadata.get(), "xesam:artist");
    return track;
}

} // namespace wheelbox
