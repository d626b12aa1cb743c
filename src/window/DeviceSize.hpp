#pragma once

#include "window/Geometry.hpp"

#include <array>
#include <optional>
#include <string_view>

namespace wheelbox {

// The four device sizes, largest first. The window is always exactly the device's size.
enum class DeviceSize { large, medium, small, tiny };

inline constexpr std::array<DeviceSize, 4> allDeviceSizes = {DeviceSize::large, DeviceSize::medium,
                                                             DeviceSize::small, DeviceSize::tiny};

// "large", "medium", "small", "tiny": the value stored under "deviceSize".
std::string_view rawValue(DeviceSize size) noexcept;
// Nothing for any other text (case matters).
std::optional<DeviceSize> deviceSizeFromRawValue(std::string_view raw) noexcept;

// The device's own size in points: 470 × 770, 352.5 × 577.5, 235 × 385, 164.5 × 269.5.
Size designSize(DeviceSize size) noexcept;

// The window's size in whole pixels, used for every window operation: a half-point dimension
// rounds to the even neighbour (352.5 × 577.5 -> 352 × 578, 164.5 × 269.5 -> 164 × 270). Large
// (470 × 770) is even too, so a window at a whole-pixel origin has its centre on a whole pixel at
// these three sizes, and switching among them keeps the centre exactly; small (235 × 385) sits
// half a pixel off, and the resize remembers the exact centre so that coming back from it puts the
// window where it was (ResizeSequence). The firmware scales its drawing to the window, so the
// half pixel changes nothing it draws.
Size windowSize(DeviceSize size) noexcept;

} // namespace wheelbox
