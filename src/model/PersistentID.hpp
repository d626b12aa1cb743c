#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wheelbox {

// Songs, albums and playlists are named by 64-bit persistent identifiers written as exactly 16
// upper-case hexadecimal digits; identifiers are compared in this form, never as numbers.
std::string formatPersistentID(std::uint64_t id);

// The inverse of formatPersistentID: only the exact 16-digit upper-case form is accepted.
std::optional<std::uint64_t> parsePersistentID(std::string_view text) noexcept;

// The prefix of every song row's id.
inline constexpr std::string_view trackIDPrefix = "music-track:";

} // namespace wheelbox
