#pragma once

#include <string_view>

namespace wheelbox {

// Temporary playlists that stand for the device's queue in the music app: "Wheelbox Queue • "
// followed by eight hexadecimal characters.
inline constexpr std::string_view managedQueueNamePrefix = "Wheelbox Queue • ";
// The prefix of older releases; their leftovers are still recognised and cleaned up.
inline constexpr std::string_view legacyManagedQueueNamePrefix = "velto Queue • ";

// Whether a playlist name is one of ours: at most 40 characters, with one of the two prefixes.
// Only such playlists are ever deleted by name, and the library never lists them.
bool isManagedQueueName(std::string_view name);

} // namespace wheelbox
