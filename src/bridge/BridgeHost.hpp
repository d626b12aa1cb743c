#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wheelbox {

// One named parameter of a page function and the text it holds.
struct PageArgument {
    std::string name;
    std::string text;
};

// A call of a function of the page whose arguments travel beside its source rather than inside it.
// WebKit keeps the source of every script it has evaluated for as long as the page lives, so a
// large text written into a script stays in the web process twice over; an argument does not.
struct PageFunctionCall {
    // The body of the function; it reads its arguments by their names.
    std::string_view body;
    std::vector<PageArgument> arguments;
};

// What the bridge needs of the web view: evaluating one line of JavaScript in the page, or calling
// a function with text arguments, with no completion handler. The device's web view implements it.
// Main thread only.
class BridgeWebView {
  public:
    virtual ~BridgeWebView() = default;
    virtual void evaluateJavaScript(const std::string &script) = 0;
    // Each argument reaches the function as a string of exactly its text, when that text is valid
    // UTF-8 without NUL; any other text reaches it with each bad byte as U+FFFD.
    virtual void callFunction(PageFunctionCall call) = 0;
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

namespace wheelbox {

// Where a script message came from: the origin of the page that posted it. WebKitGTK names neither
// the frame nor its origin, so the adapter reports the web view's current URI. No frame but the
// page's own can post: navigation policy refuses every navigation of every frame outside
// velto://app, and the firmware makes no frames.
struct MessageOrigin {
    std::string protocol; // "velto"
    std::string host;     // "app"
};

// Whether a web-session reset waits until the media queue has run its clean-up.
enum class SessionResetWait { no, yes };

// What the device window controller needs of the native bridge: it owns one, attaches its web view
// and window (held weakly: the controller clears them at shutdown), forwards every message posted
// to the "velto" handler, and resets the web session on each provisional navigation, after a web
// process crash and at shutdown. Main thread only.
class DeviceBridge {
  public:
    virtual ~DeviceBridge() = default;

    // Either may be null; null detaches.
    virtual void attach(BridgeWebView *webView, BridgeWindow *window) = 0;

    // One message body as the page posted it, as JSON text. Malformed or foreign messages are
    // dropped without an answer.
    virtual void receiveMessage(std::string_view bodyJSON, const MessageOrigin &origin) = 0;

    virtual void resetWebSession(SessionResetWait wait) = 0;
};

} // namespace wheelbox
