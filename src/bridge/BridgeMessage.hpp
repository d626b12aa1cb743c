#pragma once

#include "bridge/BridgeHost.hpp"

#include <boost/json/object.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace wheelbox {

// One message from the firmware that passed every check.
struct BridgeMessage {
    std::string method;
    // Empty only for "haptic", the one method that needs no id and gets no answer.
    std::string id;
    // Missing or not an object in the body reads as empty.
    boost::json::object params;
};

// Limits on what a message may be. A body is a method name, an id and a few short parameters (the
// longest legitimate one, "playCollection", carries a library path and a track id: well under 4
// KiB); 64 KiB leaves ample room for long names in paths while bounding the work a hostile page can
// cause. No method has nested parameters, so a shallow depth limit loses nothing.
inline constexpr std::size_t maximumBodyBytes = 64 * 1024;
inline constexpr std::size_t maximumBodyDepth = 16;
inline constexpr std::size_t maximumMethodBytes = 64;
inline constexpr std::size_t maximumIDBytes = 128;

inline constexpr std::string_view hapticMethod = "haptic";

// Checks one message body (JSON text) and where it came from: the firmware's own origin
// (velto://app), an object body within the limits above, "method" a string of at most
// 64 bytes, "version" the integer 1, and, except for "haptic", "id" a string of 1 to 128 bytes.
// Nothing when any check fails. A pure function: no side effects, safe on any thread.
std::optional<BridgeMessage> checkBridgeMessage(std::string_view bodyJSON, const MessageOrigin &origin);

} // namespace wheelbox
