#pragma once

#include "window/Screens.hpp"

#include <gdk/gdk.h>

namespace wheelbox {

// The displays of a GDK display as the device window sees them. GDK counts y downwards from the
// top of the X screen; the core counts upwards from the bottom edge of the main (primary, else
// first) monitor, so the main monitor's bottom-left corner is (0, 0) in both layouts a user
// arranges. This class is the one place that converts. Main thread.
class GdkScreens final : public Screens {
  public:
    explicit GdkScreens(GdkDisplay *display);

    std::vector<Screen> screens() const override;
    std::optional<Screen> mainScreen() const override;

    // From GDK's coordinates to the core's and back; the way back rounds to whole pixels.
    Rect toScreenPoints(const GdkRectangle &rectangle) const;
    GdkRectangle toDisplay(const Rect &rectangle) const;

  private:
    GdkMonitor *mainMonitor() const;
    Screen screenOf(GdkMonitor *monitor) const;
    int flipLine() const;

    GdkDisplay *display_;
};

} // namespace wheelbox
