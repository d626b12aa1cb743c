#include "linux/LinuxRunningApplications.hpp"

#include "lib/glib/BusConnection.hpp"
#include "lib/mpd/MpdProbe.hpp"

#include <algorithm>
#include <string>
#include <utility>

namespace wheelbox {
namespace {

using SteadyClock = std::chrono::steady_clock;

} // namespace

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
    auto address = settings_.mpdAddress ? *settings_.mpdAddress : mpd::defaultMpdAddress();
    return mpd::answers(address, settings_.timeout);
}

bool LinuxRunningApplications::busNameHasOwner()
{
    if (bus_ && g_dbus_connection_is_closed(bus_.get()))
        bus_.reset();
    // One budget for the connect and the question.
    auto deadline = SteadyClock::now() + settings_.timeout;
    if (!bus_) {
        try {
            bus_ = glib::connectBus(settings_.busAddress, settings_.timeout);
        } catch (const glib::GLibError &) {
            return false;
        }
    }

    GError *error = nullptr;
    glib::VariantPtr reply(g_dbus_connection_call_sync(
        bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
        g_variant_new("(s)", settings_.spotifyBusName.c_str()), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
        static_cast<int>(std::max<std::chrono::milliseconds::rep>(
            1, std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count())),
        nullptr, &error));
    if (!reply) {
        g_clear_error(&error);
        return false;
    }
    gboolean owned = FALSE;
    g_variant_get(reply.get(), "(b)", &owned);
    return owned;
}

} // namespace wheelbox
