#pragma once

#include <string>
#include <string_view>

// Text that travels as an argument of an MPD command. libmpdclient quotes only `"` and `\`: a line
// break inside an argument would end the command early and MPD would run the rest as commands of
// their own, and a NUL would cut the argument short so that another object is acted on than the
// one checked. Every argument that may carry outside text goes through here.
namespace wheelbox::mpd {

// `text` for libmpdclient, after checking that it holds no line break and no NUL. Throws MpdError
// (MPD_ERROR_ARGUMENT) otherwise. The pointer lives as long as `text`.
const char *argument(const std::string &text);

// Whether MPD accepts `name` for a stored playlist: not empty, and no "/", line feed, carriage
// return or NUL.
bool isValidPlaylistName(std::string_view name) noexcept;

} // namespace wheelbox::mpd
