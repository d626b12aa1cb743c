#include "lib/mpd/MpdArgument.hpp"

#include "lib/mpd/MpdConnection.hpp"

namespace wheelbox::mpd {
namespace {

constexpr std::string_view lineBreaksAndNUL("\r\n\0", 3);

} // namespace

const char *argument(const std::string &text)
{
    if (text.find_first_of(lineBreaksAndNUL) != std::string::npos)
        throw MpdError("Text with a line break or NUL can’t be sent to MPD.", MPD_ERROR_ARGUMENT,
                       std::nullopt);
    return text.c_str();
}

bool isValidPlaylistName(std::string_view name) noexcept
{
    return !name.empty() && name.find_first_of(lineBreaksAndNUL) == std::string_view::npos &&
           name.find('/') == std::string_view::npos;
}

} // namespace wheelbox::mpd
