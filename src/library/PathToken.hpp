#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace wheelbox {

// Artist and genre names travel inside library paths as URL-safe Base64 of their UTF-8 bytes
// ("+" -> "-", "/" -> "_", no "=" padding), so any name survives the "/"-separated path.
std::string encodePathToken(std::string_view name);

// The name behind a token; nothing for anything encodePathToken cannot have produced: characters
// outside the URL-safe alphabet (padding included), an impossible length, stray bits in the last
// character, or bytes that are not valid UTF-8.
std::optional<std::string> decodePathToken(std::string_view token);

} // namespace wheelbox
