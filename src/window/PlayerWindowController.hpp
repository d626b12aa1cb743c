#pragma once

#include "bridge/BridgeHost.hpp"
#include "platform/MainLoop.hpp"
#include "platform/UserDefaults.hpp"
#include "web/WebResourceSchemeHandler.hpp"
#include "window/DeviceSize.hpp"
#include "window/DeviceViewFactory.hpp"
#include "window/ResizeSequence.hpp"
#include "window/Screens.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace wheelbox {

// The device on screen: owns the bridge, the firmware's scheme handler, the web view and the
// window; builds them in a fixed order, places the window, loads the firmware, keeps the device
// usable when loading fails or the web content process dies, and carries the menu's size, glare,
// shadow and hold operations. Main thread only.
class PlayerWindowController final : public DeviceWebViewDelegate,
                                     public ScriptMessageHandler,
                                     public DeviceWindowDelegate {
  public:
    // What the controller is built from. Everything referenced outlives the controller.
    struct Environment {
        MainLoop &mainLoop;
        UserDefaults &defaults;
        const Screens &screens;
        DeviceViewFactory &views;
        // Called once, first thing, as the bridge comes before everything it talks to.
        std::function<std::unique_ptr<DeviceBridge>()> makeBridge;
        // WebResourceSchemeHandler::firmwareRoot() in the program.
        std::optional<std::filesystem::path> firmwareRoot;
        // The two navigation-failure lines go here.
        std::function<void(const std::string &line)> log;
        // The covers the scheme serves under velto://app/artwork/; none without.
        ArtworkEntries *artwork = nullptr;
    };

    static constexpr const char *deviceSizeKey = "deviceSize";
    static constexpr const char *alwaysOnTopKey = "alwaysOnTop";
    static constexpr const char *deviceScaleRatioKey = "deviceScaleRatio";
    static constexpr const char *loadFailedText =
        "Wheelbox couldn\u2019t load its interface.\nQuit and reopen the app.";
    static constexpr const char *reloadingText = "Reloading Wheelbox\u2026";
    // How long the window's frame waits after a change before it is saved.
    static constexpr std::chrono::milliseconds frameSaveDelay{500};
    // The window shows its content once the firmware has painted its first screen, or this long
    // after it was shown, whichever comes first: a page that never paints still gets a window.
    static constexpr std::chrono::seconds firstPaintDeadline{10};

    // Builds everything and starts loading the firmware. Throws DeviceWindowError when there is
    // no firmware or the window cannot hold the web view.
    explicit PlayerWindowController(Environment environment);
    ~PlayerWindowController() override;
    PlayerWindowController(const PlayerWindowController &) = delete;
    PlayerWindowController &operator=(const PlayerWindowController &) = delete;

    void showWindow();
    // Called when the user closes the device window (the program then quits).
    void setWindowClosedHandler(std::function<void()> handler) { windowClosed_ = std::move(handler); }
    // Called on a secondary click on the body outside the wheel, while the event is current (so
    // a GTK menu can pop up at the pointer). Without a handler nothing happens.
    void setBodyMenuHandler(std::function<void()> handler) { bodyMenu_ = std::move(handler); }

    // The menu's operations.
    void applyDeviceSize(DeviceSize size);
    void applyGlareAmount(double amount);
    void applyShadowAmount(double amount);
    void applyHold(bool enabled);

    DeviceSize deviceSize() const noexcept { return deviceSize_; }
    double glareAmount() const noexcept { return glareAmount_; }
    double shadowAmount() const noexcept { return shadowAmount_; }
    bool isHoldEnabled() const noexcept { return isHoldEnabled_; }
    bool isShuttingDown() const noexcept { return isShuttingDown_; }
    // Whether the window shows its content yet (see firstPaintDeadline).
    bool isContentVisible() const noexcept { return isContentVisible_; }

    // Once, at termination: saves the frame, resets the bridge's session and waits for its
    // clean-up, detaches the bridge, stops loading and removes the message handler. Afterwards no
    // navigation callback, status text or reload happens. A second call does nothing.
    void shutdown();

    DeviceWindow &window() noexcept { return *window_; }
    DeviceWebView &webView() noexcept { return *webView_; }
    DeviceBridge &bridge() noexcept { return *bridge_; }
    const WebResourceSchemeHandler &resourceSchemeHandler() const noexcept { return *resourceSchemeHandler_; }
    const ResizeSequence &resizeSequence() const noexcept { return *resize_; }

    // DeviceWebViewDelegate
    void didStartProvisionalNavigation() override;
    void didFinishNavigation() override;
    void didFailNavigation(NavigationPhase phase, const std::string &description) override;
    void webContentProcessDidTerminate() override;
    bool shouldAllowNavigation(const std::optional<std::string> &url) override;
    PressRoute routePress(Point point, Size bounds) override;
    void chassisClicked() override;
    void bodyMenuRequested() override;

    // ScriptMessageHandler
    void didReceiveScriptMessage(std::string_view bodyJSON, std::string_view pageURL) override;

    // DeviceWindowDelegate
    void windowFrameDidChange() override;
    void windowDidClose() override;

  private:
    void placeWindow();
    void clampToVisibleFrame();
    std::optional<Screen> windowScreen() const;
    void storeDeviceSize();
    void saveFrame();
    void showContent();

    MainLoop &mainLoop_;
    UserDefaults &defaults_;
    const Screens &screens_;
    std::function<void(const std::string &)> log_;
    std::function<void()> windowClosed_;
    std::function<void()> bodyMenu_;

    // In the order they are made; destroyed the other way round.
    std::unique_ptr<DeviceBridge> bridge_;
    std::unique_ptr<WebResourceSchemeHandler> resourceSchemeHandler_;
    std::unique_ptr<DeviceWebView> webView_;
    std::unique_ptr<DeviceWindow> window_;
    std::unique_ptr<ResizeSequence> resize_;

    bool isHoldEnabled_ = false;
    DeviceSize deviceSize_ = DeviceSize::large;
    double glareAmount_ = 1.0;
    double shadowAmount_ = 1.0;
    bool isShuttingDown_ = false;
    bool frameAutosave_ = false;
    std::unique_ptr<MainLoop::Timer> frameSaveTimer_;
    bool isContentVisible_ = false;
    std::unique_ptr<MainLoop::Timer> firstPaintTimer_;
    // Lets the page's answer find out whether this controller still exists.
    std::shared_ptr<PlayerWindowController *> self_ = std::make_shared<PlayerWindowController *>(this);
};

} // namespace wheelbox
