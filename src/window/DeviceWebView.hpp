#pragma once

#include "bridge/BridgeHost.hpp"
#include "window/Geometry.hpp"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace wheelbox {

// A still picture of the web view, shown while the window changes size. Only the platform that
// took it can show it.
class Snapshot {
  public:
    virtual ~Snapshot() = default;
};

// Where a mouse press on the device goes: to the page (the click wheel) or to the window (the
// body around it: a drag moves the window, a click without movement is a chassis click).
enum class PressRoute { page, window };

// Whether a load failed before its content arrived (provisional) or after.
enum class NavigationPhase { provisional, committed };

// What the web view reports to its owner. Main thread.
class DeviceWebViewDelegate {
  public:
    virtual ~DeviceWebViewDelegate() = default;

    virtual void didStartProvisionalNavigation() = 0;
    virtual void didFinishNavigation() = 0;
    virtual void didFailNavigation(NavigationPhase phase, const std::string &description) = 0;
    virtual void webContentProcessDidTerminate() = 0;
    // Every navigation of any frame, before it starts; `url` absent when the request had none.
    virtual bool shouldAllowNavigation(const std::optional<std::string> &url) = 0;

    // A primary-button press at `point` (y from the top of the view) of a view of size `bounds`.
    virtual PressRoute routePress(Point point, Size bounds) = 0;
    // A press routed to the window was released without the window having moved.
    virtual void chassisClicked() = 0;
    // A secondary-button press routed to the window: where the application's menu may pop up.
    virtual void bodyMenuRequested() = 0;
};

// Receives the bodies the page posts to the "velto" message handler. Main thread.
class ScriptMessageHandler {
  public:
    virtual ~ScriptMessageHandler() = default;
    // `bodyJSON`: the posted value as JSON text. `pageURL`: the view's current address, the only
    // origin WebKitGTK tells.
    virtual void didReceiveScriptMessage(std::string_view bodyJSON, std::string_view pageURL) = 0;
};

// The web view that shows the firmware: transparent, without a context menu, serving velto://app/
// through the scheme handler it was made with. Main thread.
class DeviceWebView : public BridgeWebView {
  public:
    // Null stops every further navigation and pointer report.
    virtual void setDelegate(DeviceWebViewDelegate *delegate) = 0;
    // Registers or removes the "velto" message handler.
    virtual void addScriptMessageHandler(ScriptMessageHandler &handler) = 0;
    virtual void removeScriptMessageHandler() = 0;

    virtual void load(const std::string &url) = 0;
    virtual void stopLoading() = 0;

    // Runs `body` as an async function of the page's main frame with `arguments` as its named
    // parameters; `completion` runs once when it settles, whatever the outcome.
    virtual void callAsyncJavaScript(const std::string &body, const std::map<std::string, double> &arguments,
                                     std::function<void()> completion) = 0;
    // The visible area; null when no picture could be taken.
    virtual void takeSnapshot(std::function<void(std::unique_ptr<Snapshot>)> completion) = 0;

    virtual double alpha() const = 0;
    virtual void setAlpha(double alpha) = 0;
};

} // namespace wheelbox
