#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Reading the text a script printed: fields, numbers and words as the players write them.
namespace wheelbox::scriptReply {

// The pieces between the separators; n separators give n + 1 pieces, empty ones included.
std::vector<std::string_view> split(std::string_view text, char separator);

// The whole text as a finite decimal number ("12.5", "3", "1.0E+4"); nothing when any of it is not.
std::optional<double> decimal(std::string_view text);

// The whole text as a decimal integer with an optional sign; nothing when any of it is not.
std::optional<std::int64_t> integer(std::string_view text);

std::string lowercased(std::string_view text);

} // namespace wheelbox::scriptReply
