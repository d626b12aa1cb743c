#pragma once

#include "window/Geometry.hpp"

#include <optional>
#include <vector>

namespace wheelbox {

// One display: its whole area and the part windows may use (without panels and docks).
struct Screen {
    Rect frame;
    Rect visibleFrame;
    friend bool operator==(const Screen &, const Screen &) = default;
};

// The displays as the device window sees them, in the platform's order, y upwards. Main thread.
class Screens {
  public:
    virtual ~Screens() = default;
    virtual std::vector<Screen> screens() const = 0;
    // The primary display, else the first; nothing when there is no display at all.
    virtual std::optional<Screen> mainScreen() const = 0;
};

} // namespace wheelbox
