#pragma once

#include "lib/gtk/GtkPointers.hpp"
#include "linux/GdkScreens.hpp"
#include "window/DeviceViewFactory.hpp"
#include "window/DeviceWindow.hpp"

#include <gtk/gtk.h>

#include <list>
#include <memory>
#include <optional>
#include <utility>

namespace wheelbox {

// The device window on GTK 3: an undecorated, app-paintable toplevel with an RGBA visual (so the
// page's transparent corners show the desktop), sticky on every workspace, holding a GtkOverlay
// with the web view, the resize snapshot and the status label. Without a compositor transparent
// pixels show black, so the window is then shaped to the device's body; until it shows its content,
// it is shaped to its top-left pixel and takes no click. Closing it
// hides it and tells the delegate. Main thread.
class GtkDeviceWindow final : public DeviceWindow {
  public:
    GtkDeviceWindow(const GdkScreens &screens, const DeviceWindowSetup &setup, GtkWidget *webView);
    ~GtkDeviceWindow() override;
    GtkDeviceWindow(const GtkDeviceWindow &) = delete;
    GtkDeviceWindow &operator=(const GtkDeviceWindow &) = delete;

    GtkWindow *gtkWindow() const noexcept { return GTK_WINDOW(window_.get()); }

    int level() const override { return level_; }
    void setLevel(int level) override;
    bool isVisibleOnScreen() const override;

    void setDelegate(DeviceWindowDelegate *delegate) override { delegate_ = delegate; }
    Rect frame() const override { return frame_; }
    void setFrame(const Rect &frame, Redisplay redisplay) override;
    void show() override;
    void makeKeyAndOrderFront() override;
    void invalidateShadow() override {}
    void showContent() override;
    void showStatusText(const std::string &text) override;
    void hideStatusText() override;
    std::unique_ptr<ResizeOverlay> addResizeOverlay(std::unique_ptr<Snapshot> snapshot) override;
    void fadeOutAndRemove(std::unique_ptr<ResizeOverlay> overlay, std::chrono::nanoseconds duration) override;

  private:
    static gboolean onDraw(GtkWidget *widget, cairo_t *cairo, gpointer self);
    static gboolean onConfigure(GtkWidget *widget, GdkEventConfigure *event, gpointer self);
    static gboolean onDelete(GtkWidget *widget, GdkEvent *event, gpointer self);
    static gboolean onWindowState(GtkWidget *widget, GdkEventWindowState *event, gpointer self);
    static gboolean onVisibility(GtkWidget *widget, GdkEventVisibility *event, gpointer self);
    static gboolean onChildPosition(GtkOverlay *overlay, GtkWidget *child, GdkRectangle *allocation,
                                    gpointer self);
    static void onCompositedChanged(GdkScreen *screen, gpointer self);

    // The window's shape and input shape for its content, compositor and size.
    void applyShape(int width, int height);

    const GdkScreens &screens_;
    gtk::WidgetPtr window_;
    GtkWidget *overlay_ = nullptr; // owned by the window
    GtkWidget *label_ = nullptr;   // owned by the overlay
    Rect frame_;
    int level_ = normalWindowLevel;
    bool iconified_ = false;
    bool obscured_ = false;
    bool contentShown_ = true;
    bool composited_ = false;
    // The size the body shape was made for; none while the window is not shaped to it.
    std::optional<std::pair<int, int>> shapedSize_;
    GdkScreen *screen_ = nullptr;
    DeviceWindowDelegate *delegate_ = nullptr;
    std::list<std::unique_ptr<ResizeOverlay>> fading_;
};

} // namespace wheelbox
