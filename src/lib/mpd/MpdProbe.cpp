#include "lib/mpd/MpdProbe.hpp"

#include "lib/glib/AsyncWait.hpp"
#include "lib/posix/FileDescriptor.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace wheelbox::mpd {
namespace {

using SteadyClock = std::chrono::steady_clock;

using posix::FileDescriptor;

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

} // namespace

bool answers(const MpdAddress &address, std::chrono::milliseconds timeout)
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
    // getaddrinfo has no deadline of its own; the resolver's lookup is cancelled at ours.
    glib::ObjectPtr<GResolver> resolver(g_resolver_get_default());
    std::vector<glib::ObjectPtr<GSocketAddress>> candidates;
    {
        glib::AsyncWait lookup(deadline);
        g_resolver_lookup_by_name_async(resolver.get(), address.host.c_str(), lookup.cancellable(),
                                        glib::AsyncWait::ready, &lookup);
        GError *error = nullptr;
        GList *found = g_resolver_lookup_by_name_finish(resolver.get(), lookup.wait(), &error);
        g_clear_error(&error);
        for (GList *item = found; item; item = item->next) {
            candidates.emplace_back(
                g_inet_socket_address_new(G_INET_ADDRESS(item->data), static_cast<guint16>(address.port)));
        }
        g_resolver_free_addresses(found);
    }
    for (const auto &candidate : candidates) {
        sockaddr_storage native{};
        if (!g_socket_address_to_native(candidate.get(), &native, sizeof(native), nullptr))
            continue;
        auto length = static_cast<socklen_t>(g_socket_address_get_native_size(candidate.get()));
        if (greets(native.ss_family, reinterpret_cast<const sockaddr *>(&native), length, deadline))
            return true;
    }
    return false;
}

} // namespace wheelbox::mpd
