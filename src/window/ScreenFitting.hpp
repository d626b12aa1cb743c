#pragma once

#include "window/DeviceSize.hpp"
#include "window/Screens.hpp"

#include <optional>
#include <span>

// Keeping the device on a screen: the size that fits, the screen a frame belongs to, and moving a
// frame inside a screen's visible area.
namespace wheelbox {

// The given size when its window fits the visible frame, else the next smaller one that does;
// tiny when none does.
DeviceSize fittedSize(DeviceSize size, const Rect &visibleFrame) noexcept;

// The visible frame that overlaps `frame` the most (the first one on a tie); when none overlaps,
// the main screen's visible frame, or nothing without a main screen.
std::optional<Rect> bestVisibleFrame(const Rect &frame, std::span<const Rect> visibleFrames,
                                     const std::optional<Rect> &mainVisibleFrame) noexcept;

// The same, over the screens as the platform reports them now.
std::optional<Rect> bestVisibleFrame(const Rect &frame, const Screens &screens);

// `frame` moved inside `visible`; one larger than `visible` keeps its left and bottom edges on
// the visible frame's left and bottom edges.
Rect clampedFrame(const Rect &frame, const Rect &visible) noexcept;

// The screen a window is on: the one whose area overlaps the frame the most (the first on a tie),
// nothing when the frame is on no screen.
std::optional<Screen> screenOfFrame(const Rect &frame, std::span<const Screen> screens) noexcept;

// The frame of `size` around `frame`'s centre (or around `centre`), its origin rounded to whole
// points (halves away from zero).
Rect centredFrame(const Rect &frame, Size size) noexcept;
Rect centredFrame(Point centre, Size size) noexcept;

} // namespace wheelbox
