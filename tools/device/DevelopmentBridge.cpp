#include "DevelopmentBridge.hpp"

#include <boost/json.hpp>

namespace wheelbox {

DevelopmentBridge::DevelopmentBridge(std::function<void(const std::string &)> observe)
    : observe_(std::move(observe))
{}

void DevelopmentBridge::attach(BridgeWebView *webView, BridgeWindow *)
{
    webView_ = webView;
}

void DevelopmentBridge::resetWebSession(SessionResetWait)
{
    ++sessionResets_;
}

void DevelopmentBridge::receiveMessage(std::string_view bodyJSON, const MessageOrigin &origin)
{
    if (origin.protocol != "velto" || origin.host != "app" ||
        bodyJSON.size() > (1 << 20))
        return;
    boost::json::error_code error;
    boost::json::value body = boost::json::parse(bodyJSON, error);
    const boost::json::object *message = error ? nullptr : body.if_object();
    const boost::json::value *method = message ? message->if_contains("method") : nullptr;
    if (!method || !method->is_string())
        return;
    std::string name(method->get_string());
    if (observe_)
        observe_(name);
    const boost::json::value *id = message->if_contains("id");
    if (!id || !id->is_string() || !webView_)
        return;
    boost::json::object payload;
    if (name == "ready")
        payload["result"] = boost::json::object();
    else
        payload["error"] = "No media back end in this development build: " + name;
    webView_->evaluateJavaScript("window.veltoNative?.resolve(" + boost::json::serialize(*id) + ", " +
                                 boost::json::serialize(payload) + ");");
}

} // namespace wheelbox
