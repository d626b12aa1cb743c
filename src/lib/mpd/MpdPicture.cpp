#include "lib/mpd/MpdPicture.hpp"

#include "lib/mpd/MpdArgument.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

namespace wheelbox::mpd {
namespace {

// What one reply said before its bytes.
struct ChunkHeader {
    std::optional<std::uint64_t> size;
    std::optional<std::uint64_t> binary;
};

std::optional<std::uint64_t> number(const char *text)
{
    std::uint64_t value = 0;
    const auto *end = text + std::strlen(text);
    auto [stop, error] = std::from_chars(text, end, value);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

[[noreturn]] void malformed(const char *what)
{
    throw MpdError(what, MPD_ERROR_MALFORMED, std::nullopt);
}

[[noreturn]] void tookTooLong()
{
    throw MpdError("Reading a picture from MPD took too long.", MPD_ERROR_TIMEOUT, std::nullopt);
}

// Reads the pairs up to "binary"; none at all means the command answered OK with nothing. A
// server that sends lines without end is left at the deadline.
ChunkHeader readHeader(MpdConnection &connection, std::chrono::steady_clock::time_point deadline)
{
    ChunkHeader header;
    while (mpd_pair *pair = mpd_recv_pair(connection.get())) {
        if (std::chrono::steady_clock::now() > deadline) {
            mpd_return_pair(connection.get(), pair);
            tookTooLong();
        }
        // The pair's text is libmpdclient's until it is returned.
        const std::string name = pair->name;
        std::optional<std::uint64_t> value;
        if (name == "size" || name == "binary")
            value = number(pair->value);
        mpd_return_pair(connection.get(), pair);
        if (name == "size") {
            if (!value)
                malformed("MPD sent a picture size that is not a number.");
            header.size = value;
        } else if (name == "binary") {
            if (!value)
                malformed("MPD sent a chunk length that is not a number.");
            header.binary = value;
            break;
        }
    }
    return header;
}

bool isAbsent(const MpdError &error)
{
    // ACK 50 (no such file, no cover file) and 5 (a command this server does not know); any other
    // refusal is an answer about this song too, never a broken connection.
    return error.serverError().has_value();
}

} // namespace

std::size_t raiseBinaryLimit(MpdConnection &connection, std::size_t bytes)
{
    if (mpd_connection_cmp_server_version(connection.get(), 0, 22, 4) < 0)
        return defaultBinaryLimit;
    mpd_run_binarylimit(connection.get(), static_cast<unsigned>(bytes));
    try {
        connection.check();
    } catch (const MpdError &error) {
        if (!error.serverError())
            throw;
        return defaultBinaryLimit;
    }
    return bytes;
}

std::optional<std::vector<std::byte>> readPicture(MpdConnection &connection, PictureCommand command,
                                                  const std::string &uri, const PictureLimits &limits)
{
    const char *name = command == PictureCommand::albumart ? "albumart" : "readpicture";
    const char *song = argument(uri);
    std::vector<std::byte> picture;
    std::vector<std::byte> discarded;
    std::uint64_t total = 0;
    bool tooLarge = false;
    do {
        if (std::chrono::steady_clock::now() > limits.deadline)
            tookTooLong();
        const auto offset = std::to_string(picture.size());
        if (!mpd_send_command(connection.get(), name, song, offset.c_str(), nullptr))
            connection.check();
        ChunkHeader header;
        try {
            header = readHeader(connection, limits.deadline);
            connection.check();
        } catch (const MpdError &error) {
            if (isAbsent(error))
                return std::nullopt;
            throw;
        }
        if (!header.binary) {
            // "readpicture" of a song without a picture: OK and nothing else.
            mpd_response_finish(connection.get());
            connection.check();
            return std::nullopt;
        }
        // What a broken server claims is never allocated.
        if (!header.size || *header.binary > limits.largestChunk ||
            *header.binary > *header.size - std::min<std::uint64_t>(*header.size, picture.size()))
            malformed("MPD sent a picture chunk that does not fit its size.");
        total = *header.size;
        tooLarge = total > limits.largest;
        // A chunk is read whole even when the picture will not be kept: the connection stays in step.
        auto &into = tooLarge ? discarded : picture;
        const auto start = tooLarge ? 0 : into.size();
        into.resize(start + *header.binary);
        // Even an empty chunk is followed by its line feed, which this reads.
        if (!mpd_recv_binary(connection.get(), into.data() + start, *header.binary))
            connection.check();
        mpd_response_finish(connection.get());
        connection.check();
        if (*header.binary == 0 && picture.size() < total)
            malformed("MPD sent an empty chunk before the end of a picture.");
    } while (!tooLarge && picture.size() < total);
    if (tooLarge || picture.empty())
        return std::nullopt;
    return picture;
}

} // namespace wheelbox::mpd
