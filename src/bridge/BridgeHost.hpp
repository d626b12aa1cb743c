#pragma once

#include <string>

namespace wheelbox {

// What the bridge needs of the web view: evaluating one line of JavaScript in the page, with no
// completion handler. The device's web view implements it. Main thread only.
class BridgeWebView {
  public:
    virtual ~BridgeWebView() = default;
    virtual void evaluateJavaScript(const std::string &script) = 0;
};

// Window levels as the firmware and the saved settings know them.
inline constexpr int normalWindowLevel = 0;
inline constexpr int floatingWindowLevel = 3;

// What the bridge needs of the device window. Main thread only.
class BridgeWindow {
  public:
    virtual ~BridgeWindow() = default;
    // normalWindowLevel, or floatingWindowLevel while the device stays on top.
    virtual int level() const = 0;
    virtual void setLevel(int level) = 0;
    // Shown and not wholly covered: only then is a poll full rather than light.
    virtual bool isVisibleOnScreen() const = 0;
};

} // namespace wheelbox
