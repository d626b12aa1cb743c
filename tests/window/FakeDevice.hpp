#pragma once

#include "window/DeviceViewFactory.hpp"
#include "window/Screens.hpp"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Fakes at the seams of the device window: they record what the core asks of the platform, in one
// shared journal, and let a test finish each asynchronous call when it chooses.
namespace wheelbox::test {

using Journal = std::vector<std::string>;

class FakeSnapshot final : public Snapshot {};

class FakeBridge final : public DeviceBridge {
  public:
    explicit FakeBridge(Journal &journal) : journal_(journal) { journal_.push_back("bridge made"); }
    void attach(BridgeWebView *webView, BridgeWindow *window) override
    {
        journal_.push_back(webView && window ? "bridge attached" : "bridge detached");
        attachedWebView = webView;
        attachedWindow = window;
    }
    void receiveMessage(std::string_view bodyJSON, const MessageOrigin &origin) override
    {
        messages.push_back({std::string(bodyJSON), origin});
    }
    void resetWebSession(SessionResetWait wait) override
    {
        journal_.push_back(wait == SessionResetWait::yes ? "session reset, waiting" : "session reset");
    }

    struct Message {
        std::string body;
        MessageOrigin origin;
    };
    std::vector<Message> messages;
    BridgeWebView *attachedWebView = nullptr;
    BridgeWindow *attachedWindow = nullptr;

  private:
    Journal &journal_;
};

class FakeWebView final : public DeviceWebView {
  public:
    explicit FakeWebView(Journal &journal) : journal_(journal) {}

    void evaluateJavaScript(const std::string &script) override
    {
        scripts.push_back(script);
        journal_.push_back("script " + script);
    }
    void callFunction(PageFunctionCall call) override
    {
        journal_.push_back("function call " + std::string(call.body));
        functionCalls.push_back(std::move(call));
    }
    void setDelegate(DeviceWebViewDelegate *newDelegate) override
    {
        delegate = newDelegate;
        journal_.push_back(newDelegate ? "web view delegate set" : "web view delegate cleared");
    }
    void addScriptMessageHandler(ScriptMessageHandler &handler) override
    {
        messageHandler = &handler;
        journal_.push_back("message handler added");
    }
    void removeScriptMessageHandler() override
    {
        messageHandler = nullptr;
        journal_.push_back("message handler removed");
    }
    void load(const std::string &url) override { journal_.push_back("load " + url); }
    void stopLoading() override { journal_.push_back("stop loading"); }
    void callAsyncJavaScript(const std::string &body, const std::map<std::string, double> &arguments,
                             std::function<void()> completion) override
    {
        asyncCalls.push_back({body, arguments, std::move(completion)});
        journal_.push_back("async call");
    }
    void takeSnapshot(std::function<void(std::unique_ptr<Snapshot>)> completion) override
    {
        snapshots.push_back(std::move(completion));
        journal_.push_back("snapshot");
    }
    double alpha() const override { return alphaValue; }
    void setAlpha(double value) override { alphaValue = value; }

    struct AsyncCall {
        std::string body;
        std::map<std::string, double> arguments;
        std::function<void()> completion;
    };
    // Completes the oldest pending call of that body; false when there is none.
    bool completeAsync(const std::string &body)
    {
        for (auto it = asyncCalls.begin(); it != asyncCalls.end(); ++it) {
            if (it->body == body) {
                auto completion = std::move(it->completion);
                asyncCalls.erase(it);
                completion();
                return true;
            }
        }
        return false;
    }
    bool completeSnapshot(bool withImage = true)
    {
        if (snapshots.empty())
            return false;
        auto completion = std::move(snapshots.front());
        snapshots.erase(snapshots.begin());
        completion(withImage ? std::make_unique<FakeSnapshot>() : nullptr);
        return true;
    }

    std::vector<std::string> scripts;
    std::vector<PageFunctionCall> functionCalls;
    std::vector<AsyncCall> asyncCalls;
    std::vector<std::function<void(std::unique_ptr<Snapshot>)>> snapshots;
    DeviceWebViewDelegate *delegate = nullptr;
    ScriptMessageHandler *messageHandler = nullptr;
    double alphaValue = 1;

  private:
    Journal &journal_;
};

class FakeWindow final : public DeviceWindow {
  public:
    class Overlay final : public ResizeOverlay {
      public:
        Overlay(FakeWindow &window) : window_(window) { ++window_.overlaysShown; }
        ~Overlay() override { ++window_.overlaysRemoved; }
        void setOrigin(Point origin) override { window_.overlayOrigin = origin; }

      private:
        FakeWindow &window_;
    };

    FakeWindow(Journal &journal, const DeviceWindowSetup &setup)
        : journal_(journal), currentFrame{{0, 0}, setup.contentSize}, currentLevel(setup.level),
          contentShown(setup.contentShown)
    {}

    int level() const override { return currentLevel; }
    void setLevel(int level) override { currentLevel = level; }
    bool isVisibleOnScreen() const override { return shown; }
    void setDelegate(DeviceWindowDelegate *newDelegate) override { delegate = newDelegate; }
    Rect frame() const override { return currentFrame; }
    void setFrame(const Rect &frame, Redisplay) override
    {
        currentFrame = frame;
        frames.push_back(frame);
        journal_.push_back("frame set");
    }
    void show() override { shown = true; }
    void makeKeyAndOrderFront() override
    {
        shown = true;
        journal_.push_back("made key");
    }
    void invalidateShadow() override { journal_.push_back("shadow invalidated"); }
    void showContent() override { contentShown = true; }
    void showStatusText(const std::string &text) override
    {
        statusText = text;
        journal_.push_back("status shown");
    }
    void hideStatusText() override
    {
        statusText.reset();
        journal_.push_back("status hidden");
    }
    std::unique_ptr<ResizeOverlay> addResizeOverlay(std::unique_ptr<Snapshot> snapshot) override
    {
        if (!snapshot || refuseOverlays)
            return nullptr;
        return std::make_unique<Overlay>(*this);
    }
    void fadeOutAndRemove(std::unique_ptr<ResizeOverlay> overlay, std::chrono::nanoseconds duration) override
    {
        fades.push_back(duration);
        overlay.reset();
    }

    Journal &journal_;
    Rect currentFrame;
    int currentLevel;
    bool shown = false;
    bool contentShown;
    bool refuseOverlays = false;
    std::vector<Rect> frames;
    std::optional<std::string> statusText;
    DeviceWindowDelegate *delegate = nullptr;
    int overlaysShown = 0;
    int overlaysRemoved = 0;
    std::optional<Point> overlayOrigin;
    std::vector<std::chrono::nanoseconds> fades;
};

class FakeViewFactory final : public DeviceViewFactory {
  public:
    explicit FakeViewFactory(Journal &journal) : journal_(journal) {}
    std::unique_ptr<DeviceWebView> makeWebView(WebResourceSchemeHandler &) override
    {
        journal_.push_back("web view made");
        auto view = std::make_unique<FakeWebView>(journal_);
        webView = view.get();
        return view;
    }
    std::unique_ptr<DeviceWindow> makeWindow(const DeviceWindowSetup &setup, DeviceWebView &) override
    {
        journal_.push_back("window made");
        lastSetup = setup;
        if (noContentView)
            return nullptr;
        auto made = std::make_unique<FakeWindow>(journal_, setup);
        window = made.get();
        return made;
    }

    FakeWebView *webView = nullptr;
    FakeWindow *window = nullptr;
    DeviceWindowSetup lastSetup;
    bool noContentView = false;

  private:
    Journal &journal_;
};

class FakeScreens final : public Screens {
  public:
    FakeScreens() = default;
    FakeScreens(std::vector<Screen> all, std::optional<std::size_t> main) : all_(std::move(all)), main_(main)
    {}
    std::vector<Screen> screens() const override { return all_; }
    std::optional<Screen> mainScreen() const override
    {
        if (!main_ || *main_ >= all_.size())
            return std::nullopt;
        return all_[*main_];
    }
    // One screen whose visible frame leaves a 25-point panel at the top.
    static FakeScreens single(double width = 1920, double height = 1080)
    {
        return FakeScreens({{{{0, 0}, {width, height}}, {{0, 0}, {width, height - 25}}}}, 0);
    }

  private:
    std::vector<Screen> all_;
    std::optional<std::size_t> main_;
};

} // namespace wheelbox::test
