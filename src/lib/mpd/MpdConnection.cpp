#include "lib/mpd/MpdConnection.hpp"

#include "lib/mpd/MpdArgument.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace wheelbox::mpd {
namespace {

constexpr unsigned defaultPort = 6600;

std::string_view environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? std::string_view(value) : std::string_view();
}

unsigned parsePort(std::string_view text)
{
    unsigned port = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end != text.data() + text.size() || port == 0 || port > 65535)
        return defaultPort;
    return port;
}

// libmpdclient before 2.21 stores the part of a timeout below one second as microseconds, so 500 ms
// would wait 0.5 ms. There, round up to whole seconds: waiting a little longer is harmless, giving
// up at once is not.
unsigned libraryTimeout(std::chrono::milliseconds timeout) noexcept
{
    // libmpdclient takes an unsigned count; six weeks is as good as forever.
    constexpr std::chrono::milliseconds::rep longest = 4'000'000'000;
    auto milliseconds =
        static_cast<unsigned>(std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 1, longest));
#if !LIBMPDCLIENT_CHECK_VERSION(2, 21, 0)
    milliseconds = (milliseconds + 999) / 1000 * 1000;
#endif
    return milliseconds;
}

constexpr std::chrono::milliseconds firstConnectPause{5};
constexpr std::chrono::milliseconds longestConnectPause{100};

// A unix socket whose queue of connections not yet accepted is full refuses the connect with
// EAGAIN. libmpdclient takes that for a connect in progress, waits for it and
// then fails reading the greeting from a socket that never connected, with EINVAL.
bool isFullBacklog(const MpdAddress &address, mpd_connection *connection) noexcept
{
    const bool local = address.host.starts_with('/') || address.host.starts_with('@');
    // The system error may only be asked for once the error is known to be one.
    if (!local || mpd_connection_get_error(connection) != MPD_ERROR_SYSTEM)
        return false;
    const int error = mpd_connection_get_system_error(connection);
    return error == EAGAIN || error == EINVAL;
}

// libmpdclient tells a line over its buffer from other malformed replies by this text alone.
constexpr std::string_view lineTooLongMessage = "Response line too large";

} // namespace

bool MpdError::isLineTooLong() const noexcept
{
    return error_ == MPD_ERROR_MALFORMED && what() == lineTooLongMessage;
}

MpdAddress parseMpdAddress(std::string_view host, std::string_view port)
{
    MpdAddress address;
    // "password@host"; a host that starts with '@' is an abstract socket, not a password.
    if (auto at = host.find('@'); at != std::string_view::npos && at > 0) {
        address.password = std::string(host.substr(0, at));
        host.remove_prefix(at + 1);
    }
    address.host = host.empty() ? "localhost" : std::string(host);
    bool isSocket = address.host.front() == '/' || address.host.front() == '@';
    address.port = isSocket ? 0 : (port.empty() ? defaultPort : parsePort(port));
    return address;
}

std::string describe(const MpdAddress &address)
{
    return address.port == 0 ? address.host : address.host + ":" + std::to_string(address.port);
}

MpdAddress defaultMpdAddress()
{
    auto host = environment("MPD_HOST");
    auto port = environment("MPD_PORT");
    if (!host.empty() || !port.empty())
        return parseMpdAddress(host, port);
    if (auto runtime = environment("XDG_RUNTIME_DIR"); !runtime.empty()) {
        auto socket = std::filesystem::path(runtime) / "mpd" / "socket";
        std::error_code error;
        if (std::filesystem::is_socket(socket, error))
            return MpdAddress{socket.string(), 0, std::nullopt};
    }
    return MpdAddress{"localhost", defaultPort, std::nullopt};
}

MpdConnection MpdConnection::open(const MpdAddress &address, std::chrono::milliseconds timeout)
{
    using SteadyClock = std::chrono::steady_clock;
    const auto deadline = SteadyClock::now() + timeout;
    auto pause = firstConnectPause;
    ConnectionPtr connection;
    while (true) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
        // The connect and the greeting are bounded by this timeout too, so it needs the same rounding.
        connection.reset(mpd_connection_new(address.host.c_str(), address.port,
                                            libraryTimeout(std::max(left, std::chrono::milliseconds(1)))));
        if (!connection)
            throw MpdError("Out of memory", MPD_ERROR_OOM, std::nullopt);
        if (!isFullBacklog(address, connection.get()))
            break;
        // MPD listens with a backlog of five, and connections it has not accepted yet fill it: a
        // busy MPD's, and those of clients killed before it got to them (a superseded script). A
        // unix socket then refuses at once, as if MPD were gone. Wait for room, as a blocking
        // connect would, until the timeout.
        if (SteadyClock::now() + pause >= deadline)
            throw MpdError("Timeout while connecting", MPD_ERROR_TIMEOUT, std::nullopt);
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, longestConnectPause);
    }
    MpdConnection result(std::move(connection));
    result.check();
    if (address.password) {
        mpd_run_password(result.get(), argument(*address.password));
        result.check();
    }
    return result;
}

void MpdConnection::check() const
{
    auto error = mpd_connection_get_error(connection_.get());
    if (error == MPD_ERROR_SUCCESS)
        return;
    std::string message = mpd_connection_get_error_message(connection_.get());
    std::optional<mpd_server_error> serverError;
    if (error == MPD_ERROR_SERVER)
        serverError = mpd_connection_get_server_error(connection_.get());
    // Clearing succeeds only for recoverable errors (ACKs); a broken connection stays broken.
    mpd_connection_clear_error(connection_.get());
    throw MpdError(std::move(message), error, serverError);
}

void MpdConnection::setTimeout(std::chrono::milliseconds timeout) noexcept
{
    mpd_connection_set_timeout(connection_.get(), libraryTimeout(timeout));
}

} // namespace wheelbox::mpd
