#pragma once

#include "bridge/BridgeHost.hpp"

#include <functional>
#include <string>

namespace wheelbox {

// A stand-in for the native bridge, for the window's own tests and benchmark only: it answers
// "ready" with an empty result, every other request with an error saying there is no media back
// end, pushes nothing, and reports each accepted message's method. The program uses the real
// bridge. Main thread.
class DevelopmentBridge final : public DeviceBridge {
  public:
    // `observe` hears the method of every message from velto://app, "haptic" included.
    explicit DevelopmentBridge(std::function<void(const std::string &method)> observe = {});

    void attach(BridgeWebView *webView, BridgeWindow *window) override;
    void receiveMessage(std::string_view bodyJSON, const MessageOrigin &origin) override;
    void resetWebSession(SessionResetWait wait) override;

    int sessionResets() const noexcept { return sessionResets_; }

  private:
    std::function<void(const std::string &)> observe_;
    BridgeWebView *webView_ = nullptr;
    int sessionResets_ = 0;
};

} // namespace wheelbox
