#pragma once

#include "lib/mpd/MpdPointers.hpp"

#include <chrono>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>

namespace wheelbox::mpd {

// A failure talking to MPD: no server, a broken connection, or the server's ACK for a command.
class MpdError : public std::runtime_error {
  public:
    MpdError(std::string message, mpd_error error, std::optional<mpd_server_error> serverError)
        : std::runtime_error(std::move(message)), error_(error), serverError_(serverError)
    {}

    mpd_error error() const noexcept { return error_; }
    // The ACK code when the server refused a command (MPD_SERVER_ERROR_PLAYER_SYNC = 55, ...).
    std::optional<mpd_server_error> serverError() const noexcept { return serverError_; }
    // A reply line longer than libmpdclient takes (a huge tag, a very long name). The lines before
    // it arrived whole; the connection is broken and must be opened again.
    bool isLineTooLong() const noexcept;

  private:
    mpd_error error_;
    std::optional<mpd_server_error> serverError_;
};

// The longest reply line libmpdclient takes, line feed included: its input buffer.
inline constexpr std::size_t longestReplyLine = 4096;

// Where an MPD listens: a host name or address with a port, or a unix socket path ("/..." or
// "@abstract") with port 0. A password, when the MPD_HOST form "password@host" gave one.
struct MpdAddress {
    std::string host;
    unsigned port = 0;
    std::optional<std::string> password;

    bool operator==(const MpdAddress &) const = default;
};

// The address as a user reads it: "host:port" or the socket's path, never the password.
std::string describe(const MpdAddress &address);

// The address every MPD client uses: MPD_HOST / MPD_PORT when set; else the per-user socket
// $XDG_RUNTIME_DIR/mpd/socket when it exists; else localhost:6600.
MpdAddress defaultMpdAddress();

// Parses the MPD_HOST / MPD_PORT pair ("host", "password@host", "/socket", "@abstract").
MpdAddress parseMpdAddress(std::string_view host, std::string_view port);

// One connection to MPD. Move-only; not thread-safe (one owner thread at a time).
class MpdConnection {
  public:
    // Connects and authenticates within `timeout`, also when MPD's queue of connections to accept is
    // full for a while. Throws MpdError.
    static MpdConnection open(const MpdAddress &address, std::chrono::milliseconds timeout);

    mpd_connection *get() const noexcept { return connection_.get(); }

    // Throws MpdError when the last command failed. A refused command (ACK) leaves the connection
    // usable; anything else leaves it broken.
    void check() const;

    // The time libmpdclient waits for each reply from now on.
    void setTimeout(std::chrono::milliseconds timeout) noexcept;

  private:
    explicit MpdConnection(ConnectionPtr connection) noexcept : connection_(std::move(connection)) {}

    ConnectionPtr connection_;
};

} // namespace wheelbox::mpd
