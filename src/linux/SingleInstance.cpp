#include "linux/SingleInstance.hpp"

#include "linux/GLibMainLoop.hpp"
#include "linux/UserFolders.hpp"

#include <glib-unix.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace wheelbox {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// What the running copy answers once its device is in front.
constexpr std::string_view presentedReply = "presented\n";

// A unix socket address for `path`; false when the path is too long for one.
bool socketAddress(const std::filesystem::path &path, sockaddr_un &address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.native().size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.native().size() + 1);
    return true;
}

} // namespace

SingleInstance::SingleInstance(posix::LockFile lock, std::filesystem::path socket,
                               posix::FileDescriptor listener)
    : lock_(std::move(lock)), socket_(std::move(socket)), listener_(std::move(listener))
{}

std::unique_ptr<SingleInstance> SingleInstance::claim(const std::filesystem::path &stateFolder,
                                                      const std::filesystem::path &runtimeFolder)
{
    userFolders::makePrivate(stateFolder);
    userFolders::makePrivate(runtimeFolder);
    auto lock = posix::LockFile::tryLock(stateFolder / lockName, std::to_string(::getpid()));
    if (!lock)
        return nullptr;

    auto socketPath = runtimeFolder / socketName;
    sockaddr_un address{};
    posix::FileDescriptor listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    // The lock says no copy listens: whatever is at the path was left by one that crashed.
    ::unlink(socketPath.c_str());
    if (!listener.isOpen() || !socketAddress(socketPath, address) ||
        ::bind(listener.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 16) != 0) {
        std::cerr << "wheelbox: a later start cannot reach this one at " << socketPath.string() << " ("
                  << std::strerror(errno) << "); it will say so and end\n";
        listener.reset();
    }
    return std::unique_ptr<SingleInstance>(
        new SingleInstance(std::move(*lock), std::move(socketPath), std::move(listener)));
}

bool SingleInstance::presentRunningCopy(const std::filesystem::path &stateFolder,
                                        const std::filesystem::path &runtimeFolder,
                                        std::chrono::milliseconds timeout, std::string &problem)
{
    auto deadline = Clock::now() + timeout;
    sockaddr_un address{};
    bool addressable = socketAddress(runtimeFolder / socketName, address);
    while (addressable) {
        posix::FileDescriptor connection(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!connection.isOpen())
            break;
        if (::connect(connection.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
            // Not listening yet (the running copy is starting), or its queue is full.
            if (Clock::now() >= deadline)
                break;
            std::this_thread::sleep_for(50ms);
            continue;
        }
        // Connected: the running copy answers once its main loop gets to it.
        std::string reply;
        while (reply.size() < presentedReply.size()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd watch{connection.get(), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&watch, 1, static_cast<int>(left.count()) + 1) <= 0)
                break;
            char buffer[16];
            ssize_t got = ::read(connection.get(), buffer, sizeof buffer);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got <= 0)
                break;
            reply.append(buffer, static_cast<std::size_t>(got));
        }
        if (reply == presentedReply)
            return true;
        break;
    }
    // The holder's note is its process id; anything else in the file is left out of the line.
    std::string holder = posix::LockFile::note(stateFolder / lockName);
    bool isNumber =
        !holder.empty() && holder.size() <= 10 && holder.find_first_not_of("0123456789") == std::string::npos;
    problem = "Wheelbox is already running" + (isNumber ? " (process " + holder + ")" : std::string()) +
              " and did not come to the front; this start opens no second device.";
    return false;
}

SingleInstance::~SingleInstance()
{
    if (listener_.isOpen())
        ::unlink(socket_.c_str());
}

void SingleInstance::listen(GLibMainLoop &loop, std::function<void()> present)
{
    present_ = std::move(present);
    if (!listener_.isOpen() || source_)
        return;
    source_.reset(g_unix_fd_source_new(listener_.get(), G_IO_IN));
    g_source_set_callback(source_.get(), G_SOURCE_FUNC(&SingleInstance::onConnection), this, nullptr);
    g_source_attach(source_.get(), loop.context());
}

gboolean SingleInstance::onConnection(gint, GIOCondition, gpointer data)
{
    auto *self = static_cast<SingleInstance *>(data);
    // Every start that is waiting: one presentation for all of them. Nothing is read from them.
    bool presented = false;
    while (true) {
        posix::FileDescriptor connection(
            ::accept4(self->listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!connection.isOpen())
            break;
        if (!presented && self->present_)
            self->present_();
        presented = true;
        ::send(connection.get(), presentedReply.data(), presentedReply.size(), MSG_NOSIGNAL);
    }
    return G_SOURCE_CONTINUE;
}

} // namespace wheelbox
