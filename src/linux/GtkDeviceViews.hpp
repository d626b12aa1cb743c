#pragma once

#include "linux/GdkScreens.hpp"
#include "window/DeviceViewFactory.hpp"

#include <filesystem>

namespace wheelbox {

// Makes the device's WebKitGTK web view and GTK window. Each web view gets a web context of its
// own, serving "velto" from the controller's scheme handler and keeping the firmware's website
// data (its localStorage) under the given folders. Main thread, after GTK is initialised.
class GtkDeviceViews final : public DeviceViewFactory {
  public:
    struct Storage {
        std::filesystem::path data;  // $XDG_DATA_HOME/wheelbox
        std::filesystem::path cache; // $XDG_CACHE_HOME/wheelbox
    };

    GtkDeviceViews(const GdkScreens &screens, Storage storage);

    // The user's folders, as the XDG base directories name them.
    static Storage userStorage();

    std::unique_ptr<DeviceWebView> makeWebView(WebResourceSchemeHandler &schemeHandler) override;
    std::unique_ptr<DeviceWindow> makeWindow(const DeviceWindowSetup &setup, DeviceWebView &webView) override;

  private:
    const GdkScreens &screens_;
    Storage storage_;
};

} // namespace wheelbox
