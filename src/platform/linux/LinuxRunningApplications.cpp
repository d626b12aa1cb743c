#include "platform/linux/LinuxRunningApplications.hpp"

#include <utility>

namespace wheelbox {

LinuxRunningApplications::LinuxRunningApplications(LinuxRunningApplicationsSettings settings)
    : settings_(std::move(settings))
{}

bool LinuxRunningApplications::isRunning(std::string_view bundleIdentifier)
{
    if (bundleIdentifier == musicAppBundleIdentifier)
        return mpdAnswers();
    if (bundleIdentifier == spotifyBundleIdentifier)
        return busNameHasOwner();
    return false;
}

bool LinuxRunningApplications::mpdAnswers() const
{
    try {
        auto address = settings_.mpdAddress ? *settings_.mpdAddress : mpd::defaultMpdAddress();
        mpd::MpdConnection::open(address, settings_.timeout);
        return true;
    } catch (const mpd::MpdError &error) {
        // Refusing the password is still an answer: that MPD runs.
        return error.serverError().has_value();
    }
}

bool LinuxRunningApplications::busNameHasOwner()
{
    if (bus_ && g_dbus_connection_is_closed(bus_.get()))
        bus_.reset();
    if (!bus_) {
        // A connection of our own: the process-wide shared one would end the program when the
        // bus goes away.
        GError *error = nullptr;
        glib::CharPtr sessionAddress;
        if (!settings_.busAddress) {
            sessionAddress.reset(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error));
            if (!sessionAddress) {
                g_clear_error(&error);
                return false;
            }
        }
        const char *address = settings_.busAddress ? settings_.busAddress->c_str() : sessionAddress.get();
        auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                       G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
        bus_.reset(g_dbus_connection_new_for_address_sync(address, flags, nullptr, nullptr, &error));
        if (!bus_) {
            g_clear_error(&error);
            return false;
        }
    }

    GError *error = nullptr;
    glib::VariantPtr reply(g_dbus_connection_call_sync(
        bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
        g_variant_new("(s)", settings_.spotifyBusName.c_str()), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
        static_cast<int>(settings_.timeout.count()), nullptr, &error));
    if (!reply) {
        g_clear_error(&error);
        return false;
    }
    gboolean owned = FALSE;
    g_variant_get(reply.get(), "(b)", &owned);
    return owned;
}

} // namespace wheelbox
