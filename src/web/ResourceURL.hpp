#pragma once

#include <optional>
#include <string>
#include <string_view>

// The parts of a URL the device needs: the scheme of the firmware's address ("velto"), its host
// ("app") and its path. Only what WebKit hands over has to parse; anything unusual fails.
namespace wheelbox {

struct ResourceURL {
    std::string scheme;
    // Absent without an authority ("velto:index.html"); may be empty ("velto:///x").
    std::optional<std::string> host;
    // As written, still percent-encoded; the query and fragment are not part of it.
    std::string path;
};

// Nothing for text that is not an absolute URL: no scheme, a control character, a space or a
// byte outside ASCII anywhere (WebKit percent-encodes those), or an unclosed IPv6 host.
std::optional<ResourceURL> parseResourceURL(std::string_view text);

// Percent-decoding; nothing when a "%" is not followed by two hexadecimal digits.
std::optional<std::string> percentDecode(std::string_view text);

// Whether the URL is the firmware's: scheme exactly "velto" and host exactly "app".
bool isFirmwareURL(std::string_view text);

} // namespace wheelbox
