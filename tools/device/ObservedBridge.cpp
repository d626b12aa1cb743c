#include "ObservedBridge.hpp"

#include "bridge/BridgeMessage.hpp"

namespace wheelbox {

ObservedBridge::ObservedBridge(std::unique_ptr<DeviceBridge> bridge,
                               std::function<void(const std::string &)> observe)
    : bridge_(std::move(bridge)), observe_(std::move(observe))
{}

void ObservedBridge::attach(BridgeWebView *webView, BridgeWindow *window)
{
    bridge_->attach(webView, window);
}

void ObservedBridge::receiveMessage(std::string_view bodyJSON, const MessageOrigin &origin)
{
    // Reported before the bridge acts, so "quit" is heard before the program ends.
    if (auto message = checkBridgeMessage(bodyJSON, origin); message && observe_)
        observe_(message->method);
    bridge_->receiveMessage(bodyJSON, origin);
}

void ObservedBridge::resetWebSession(SessionResetWait wait)
{
    ++sessionResets_;
    bridge_->resetWebSession(wait);
}

} // namespace wheelbox
