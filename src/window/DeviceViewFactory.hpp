#pragma once

#include "window/DeviceWebView.hpp"
#include "window/DeviceWindow.hpp"

#include <memory>

namespace wheelbox {

class WebResourceSchemeHandler;

// How the device window starts out.
struct DeviceWindowSetup {
    Size contentSize;
    int level = normalWindowLevel;
    // False: nothing of the window is seen until DeviceWindow::showContent().
    bool contentShown = true;
};

// Makes the platform's web view and window for the controller. Main thread.
class DeviceViewFactory {
  public:
    virtual ~DeviceViewFactory() = default;
    // A web view whose "velto" scheme is served by `schemeHandler` (which outlives it), media
    // allowed to play without a gesture, transparent, without a context menu.
    virtual std::unique_ptr<DeviceWebView> makeWebView(WebResourceSchemeHandler &schemeHandler) = 0;
    // The window, titled "Wheelbox", with the web view filling its content; null when the window
    // has no content to hold it.
    virtual std::unique_ptr<DeviceWindow> makeWindow(const DeviceWindowSetup &setup,
                                                     DeviceWebView &webView) = 0;
};

} // namespace wheelbox
