#include "platform/linux/LinuxRunningApplications.hpp"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>

namespace wheelbox {
namespace {

using SteadyClock = std::chrono::steady_clock;

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const noexcept { return fd_; }

  private:
    int fd_;
};

// Waits for `events` on fd until the deadline.
bool waitFor(int fd, short events, SteadyClock::time_point deadline)
{
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0)
            return false;
        pollfd entry{fd, events, 0};
        int ready = poll(&entry, 1, static_cast<int>(left.count()) + 1);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

// Connects to one socket address and reads MPD's greeting, all before the deadline.
bool greets(int family, const sockaddr *address, socklen_t length, SteadyClock::time_point deadline)
{
    FileDescriptor fd(socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.get() < 0)
        return false;
    if (connect(fd.get(), address, length) != 0) {
        if (errno != EINPROGRESS && errno != EAGAIN)
            return false;
        int error = 0;
        socklen_t size = sizeof(error);
        if (!waitFor(fd.get(), POLLOUT, deadline) ||
            getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
            return false;
    }
    constexpr std::string_view welcome = "OK MPD ";
    std::string received;
    while (received.size() < welcome.size()) {
        if (!waitFor(fd.get(), POLLIN, deadline))
            return false;
        char buffer[64];
        auto got = recv(fd.get(), buffer, sizeof(buffer), 0);
        if (got <= 0) {
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            return false;
        }
        received.append(buffer, static_cast<std::size_t>(got));
    }
    return received.starts_with(welcome);
}

// The greeting alone proves an MPD runs there, password or not. libmpdclient cannot wait for it
// for less than a second: it reads the sub-second part of its timeout as microseconds.
bool mpdGreets(const mpd::MpdAddress &address, std::chrono::milliseconds timeout)
{
    auto deadline = SteadyClock::now() + timeout;
    if (address.host.starts_with('/') || address.host.starts_with('@')) {
        sockaddr_un local{};
        local.sun_family = AF_UNIX;
        if (address.host.size() >= sizeof(local.sun_path))
            return false;
        address.host.copy(local.sun_path, address.host.size());
        auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.host.size());
        if (address.host.front() == '@')
            local.sun_path[0] = '\0'; // an abstract socket: no file, no terminating zero
        else
            length += 1;
        return greets(AF_UNIX, reinterpret_cast<const sockaddr *>(&local), length, deadline);
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo *found = nullptr;
    auto port = std::to_string(address.port);
    if (getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found) != 0)
        return false;
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, freeaddrinfo);
    for (auto *candidate = found; candidate; candidate = candidate->ai_next) {
        if (greets(candidate->ai_family, candidate->ai_addr, candidate->ai_addrlen, deadline))
            return true;
    }
    return false;
}

// Connecting has no timeout of its own, and a bus that accepts but never authenticates would
// hold the caller forever; so it runs on a private main context that gives up at the deadline.
glib::ObjectPtr<GDBusConnection> connectWithin(const char *address, std::chrono::milliseconds timeout)
{
    struct Attempt {
        GDBusConnection *connection = nullptr;
        bool finished = false;
        bool timedOut = false;
    } attempt;
    glib::MainContextPtr context(g_main_context_new());
    g_main_context_push_thread_default(context.get());
    glib::ObjectPtr<GCancellable> cancellable(g_cancellable_new());
    auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    g_dbus_connection_new_for_address(
        address, flags, nullptr, cancellable.get(),
        [](GObject *, GAsyncResult *result, gpointer data) {
            auto *finished = static_cast<Attempt *>(data);
            finished->connection = g_dbus_connection_new_for_address_finish(result, nullptr);
            finished->finished = true;
        },
        &attempt);
    GSource *timer = g_timeout_source_new(static_cast<guint>(timeout.count()));
    g_source_set_callback(
        timer,
        [](gpointer data) {
            static_cast<Attempt *>(data)->timedOut = true;
            return G_SOURCE_REMOVE;
        },
        &attempt, nullptr);
    g_source_attach(timer, context.get());
    while (!attempt.finished && !attempt.timedOut)
        g_main_context_iteration(context.get(), TRUE);
    if (!attempt.finished) {
        g_cancellable_cancel(cancellable.get());
        while (!attempt.finished)
            g_main_context_iteration(context.get(), TRUE);
    }
    g_source_destroy(timer);
    g_source_unref(timer);
    g_main_context_pop_thread_default(context.get());
    return glib::ObjectPtr<GDBusConnection>(attempt.connection);
}

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
    return mpdGreets(address, settings_.timeout);
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
        bus_ = connectWithin(address, settings_.timeout);
        if (!bus_)
            return false;
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
