#include "linux/GdkScreens.hpp"

#include <algorithm>
#include <climits>
#include <cmath>

namespace wheelbox {
namespace {

// Coordinates beyond any screen still convert without overflowing an int.
int whole(double value)
{
    return static_cast<int>(std::clamp(std::round(value), -1e8, 1e8));
}

} // namespace

GdkScreens::GdkScreens(GdkDisplay *display) : display_(display) {}

GdkMonitor *GdkScreens::mainMonitor() const
{
    if (GdkMonitor *primary = gdk_display_get_primary_monitor(display_))
        return primary;
    return gdk_display_get_n_monitors(display_) > 0 ? gdk_display_get_monitor(display_, 0) : nullptr;
}

int GdkScreens::flipLine() const
{
    GdkMonitor *main = mainMonitor();
    if (!main)
        return 0;
    GdkRectangle geometry;
    gdk_monitor_get_geometry(main, &geometry);
    return geometry.y + geometry.height;
}

Rect GdkScreens::toScreenPoints(const GdkRectangle &rectangle) const
{
    return {{double(rectangle.x), double(flipLine() - (rectangle.y + rectangle.height))},
            {double(rectangle.width), double(rectangle.height)}};
}

GdkRectangle GdkScreens::toDisplay(const Rect &rectangle) const
{
    int width = whole(rectangle.size.width);
    int height = whole(rectangle.size.height);
    return {whole(rectangle.origin.x), flipLine() - (whole(rectangle.origin.y) + height), width, height};
}

Screen GdkScreens::screenOf(GdkMonitor *monitor) const
{
    GdkRectangle geometry;
    GdkRectangle workArea;
    gdk_monitor_get_geometry(monitor, &geometry);
    gdk_monitor_get_workarea(monitor, &workArea);
    return {toScreenPoints(geometry), toScreenPoints(workArea)};
}

std::vector<Screen> GdkScreens::screens() const
{
    std::vector<Screen> all;
    int count = gdk_display_get_n_monitors(display_);
    for (int index = 0; index < count; ++index)
        all.push_back(screenOf(gdk_display_get_monitor(display_, index)));
    return all;
}

std::optional<Screen> GdkScreens::mainScreen() const
{
    GdkMonitor *main = mainMonitor();
    if (!main)
        return std::nullopt;
    return screenOf(main);
}

} // namespace wheelbox
