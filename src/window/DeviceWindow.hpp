#pragma once

#include "bridge/BridgeHost.hpp"
#include "window/Geometry.hpp"

#include <chrono>
#include <memory>
#include <string>

namespace wheelbox {

class Snapshot;

// Whether a frame change is drawn at once.
enum class Redisplay { no, yes };

// The snapshot laid over the web view during a resize. Destroying it removes it at once.
class ResizeOverlay {
  public:
    virtual ~ResizeOverlay() = default;
    // Its bottom-left corner in the window's content, y upwards.
    virtual void setOrigin(Point origin) = 0;
};

// What the window reports to its owner. Main thread.
class DeviceWindowDelegate {
  public:
    virtual ~DeviceWindowDelegate() = default;
    // Moved or resized, by the program or the user.
    virtual void windowFrameDidChange() = 0;
    // The user closed it; it is hidden, not destroyed.
    virtual void windowDidClose() = 0;
};

// The borderless, transparent device window, exactly the device's size, holding the web view,
// a status text over it and, during a resize, a snapshot. It takes keyboard focus. Frames are in
// screen points, y upwards (Geometry.hpp). Main thread.
class DeviceWindow : public BridgeWindow {
  public:
    virtual void setDelegate(DeviceWindowDelegate *delegate) = 0;

    virtual Rect frame() const = 0;
    virtual void setFrame(const Rect &frame, Redisplay redisplay) = 0;

    virtual void show() = 0;
    // Shows it, raises it and gives it the keyboard focus.
    virtual void makeKeyAndOrderFront() = 0;
    // Puts what the window holds on the screen, when it was made without (DeviceWindowSetup). Until
    // then the window is shown all the same (so its page renders and animates), but nothing of it
    // is seen and it takes no click.
    virtual void showContent() = 0;
    virtual void invalidateShadow() = 0;

    // Centred, at most 72 % of the window's width and three lines.
    virtual void showStatusText(const std::string &text) = 0;
    virtual void hideStatusText() = 0;

    // Lays the picture over the web view (under the status text), filling the content; null when
    // it cannot be shown.
    virtual std::unique_ptr<ResizeOverlay> addResizeOverlay(std::unique_ptr<Snapshot> snapshot) = 0;
    // Fades the overlay out over `duration`, then removes it.
    virtual void fadeOutAndRemove(std::unique_ptr<ResizeOverlay> overlay,
                                  std::chrono::nanoseconds duration) = 0;
};

} // namespace wheelbox
