#include "lib/glib/BusConnection.hpp"

#include "lib/glib/AsyncWait.hpp"

#include <cstdlib>
#include <filesystem>

namespace wheelbox::glib {

std::optional<std::string> sessionBusAddress()
{
    if (const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
        return std::string(address);
    if (const char *runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        auto socket = std::filesystem::path(runtime) / "bus";
        std::error_code error;
        if (std::filesystem::is_socket(socket, error)) {
            CharPtr escaped(g_dbus_address_escape_value(socket.c_str()));
            return "unix:path=" + std::string(escaped.get());
        }
    }
    return std::nullopt;
}

ObjectPtr<GDBusConnection> connectBus(const std::optional<std::string> &address,
                                      std::chrono::milliseconds timeout)
{
    auto target = address ? address : sessionBusAddress();
    if (!target) {
        GError *error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "There is no session bus.");
        throwIfError(error);
    }
    AsyncWait call(std::chrono::steady_clock::now() + timeout);
    auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    g_dbus_connection_new_for_address(target->c_str(), flags, nullptr, call.cancellable(), AsyncWait::ready,
                                      &call);
    GAsyncResult *result = call.wait();
    GError *error = nullptr;
    ObjectPtr<GDBusConnection> connection(g_dbus_connection_new_for_address_finish(result, &error));
    if (!connection && call.timedOut()) {
        g_clear_error(&error);
        error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_TIMED_OUT, "The bus did not answer in time.");
    }
    throwIfError(error);
    return connection;
}

} // namespace wheelbox::glib
