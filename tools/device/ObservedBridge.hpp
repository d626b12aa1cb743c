#pragma once

#include "bridge/BridgeHost.hpp"

#include <functional>
#include <memory>
#include <string>

namespace wheelbox {

// Passes everything to the bridge it wraps and reports, on the way, the method of every message
// that passes the bridge's checks, so a script driving wheelbox-device can follow the firmware.
// Main thread.
class ObservedBridge final : public DeviceBridge {
  public:
    ObservedBridge(std::unique_ptr<DeviceBridge> bridge,
                   std::function<void(const std::string &method)> observe);

    void attach(BridgeWebView *webView, BridgeWindow *window) override;
    void receiveMessage(std::string_view bodyJSON, const MessageOrigin &origin) override;
    void resetWebSession(SessionResetWait wait) override;

    int sessionResets() const noexcept { return sessionResets_; }

  private:
    std::unique_ptr<DeviceBridge> bridge_;
    std::function<void(const std::string &)> observe_;
    int sessionResets_ = 0;
};

} // namespace wheelbox
