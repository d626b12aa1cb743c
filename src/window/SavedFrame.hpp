#pragma once

#include "window/Geometry.hpp"

#include <optional>
#include <string>
#include <string_view>

// The device window's frame kept across runs under "NSWindow Frame veltoPlayerWindow": the text
// "x y width height" in screen points, y upwards from the bottom of the main screen, e.g.
// "745 130 470 770". Only the centre is used when it is read back.
namespace wheelbox::savedFrame {

inline constexpr const char *key = "NSWindow Frame veltoPlayerWindow";

std::string format(const Rect &frame);

// Nothing for anything but four finite numbers with positive sizes, each within a million points
// of the origin: a damaged or hand-edited value restores nothing rather than a window nobody can
// reach.
std::optional<Rect> parse(std::string_view text);

} // namespace wheelbox::savedFrame
