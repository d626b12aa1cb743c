#include "window/PlayerWindowController.hpp"

#include "web/ResourceURL.hpp"
#include "window/Appearance.hpp"
#include "window/DeviceWindowError.hpp"
#include "window/FirmwareScripts.hpp"
#include "window/PageOrigin.hpp"
#include "window/SavedFrame.hpp"
#include "window/ScreenFitting.hpp"
#include "window/WheelHitTest.hpp"

namespace wheelbox {

PlayerWindowController::PlayerWindowController(Environment environment)
    : mainLoop_(environment.mainLoop), defaults_(environment.defaults), screens_(environment.screens),
      log_(std::move(environment.log))
{
    bridge_ = environment.makeBridge();
    resourceSchemeHandler_ =
        WebResourceSchemeHandler::make(environment.firmwareRoot, mainLoop_, environment.artwork);
    if (!resourceSchemeHandler_)
        throw DeviceWindowError::missingWebInterface();

    deviceSize_ =
        deviceSizeFromRawValue(defaults_.string(deviceSizeKey).value_or("")).value_or(DeviceSize::large);
    defaults_.remove(deviceScaleRatioKey);
    glareAmount_ = appearance::storedGlareAmount(defaults_);
    shadowAmount_ = appearance::storedShadowAmount(defaults_);

    webView_ = environment.views.makeWebView(*resourceSchemeHandler_);
    bool onTop = defaults_.boolean(alwaysOnTopKey).value_or(false);
    // Until the firmware has painted, the window would show an empty (or, without a compositor,
    // black) rectangle.
    window_ = environment.views.makeWindow(
        {windowSize(deviceSize_), onTop ? floatingWindowLevel : normalWindowLevel, false}, *webView_);
    if (!window_)
        throw DeviceWindowError::noContentView();

    webView_->addScriptMessageHandler(*this);
    bridge_->attach(webView_.get(), window_.get());
    webView_->setDelegate(this);
    window_->setDelegate(this);
    resize_ = std::make_unique<ResizeSequence>(mainLoop_, screens_, *window_, *webView_);

    placeWindow();
    frameAutosave_ = true;
    webView_->load(WebResourceSchemeHandler::startURL());
}

PlayerWindowController::~PlayerWindowController()
{
    // The parts report to this object and the bridge holds them weakly: cut both ties first.
    window_->setDelegate(nullptr);
    webView_->setDelegate(nullptr);
    bridge_->attach(nullptr, nullptr);
    resize_.reset();
}

void PlayerWindowController::showWindow()
{
    window_->show();
    if (!isContentVisible_ && !firstPaintTimer_)
        firstPaintTimer_ =
            mainLoop_.schedule(firstPaintDeadline, MainLoop::Repeat::once, [this] { showContent(); });
}

void PlayerWindowController::showContent()
{
    firstPaintTimer_.reset();
    if (isContentVisible_)
        return;
    isContentVisible_ = true;
    window_->showContent();
}

// --- placement ----------------------------------------------------------------------------------

void PlayerWindowController::placeWindow()
{
    std::optional<Rect> restored;
    if (auto text = defaults_.string(savedFrame::key))
        restored = savedFrame::parse(*text);

    if (!restored) {
        Rect frame = window_->frame();
        if (auto main = screens_.mainScreen()) {
            deviceSize_ = fittedSize(deviceSize_, main->visibleFrame);
            storeDeviceSize();
            frame = centredFrame(main->visibleFrame, windowSize(deviceSize_));
        }
        window_->setFrame(frame, Redisplay::no);
        return;
    }

    if (auto best = bestVisibleFrame(*restored, screens_)) {
        deviceSize_ = fittedSize(deviceSize_, *best);
        storeDeviceSize();
    }
    // Only the saved centre counts; the size is the device's.
    Size size = windowSize(deviceSize_);
    window_->setFrame({{restored->midX() - size.width / 2, restored->midY() - size.height / 2}, size},
                      Redisplay::no);
    clampToVisibleFrame();
}

void PlayerWindowController::clampToVisibleFrame()
{
    Rect frame = window_->frame();
    if (auto best = bestVisibleFrame(frame, screens_))
        window_->setFrame(clampedFrame(frame, *best), Redisplay::no);
}

std::optional<Screen> PlayerWindowController::windowScreen() const
{
    if (auto screen = screenOfFrame(window_->frame(), screens_.screens()))
        return screen;
    return screens_.mainScreen();
}

void PlayerWindowController::storeDeviceSize()
{
    defaults_.setString(deviceSizeKey, std::string(rawValue(deviceSize_)));
}

// --- menu operations ----------------------------------------------------------------------------

void PlayerWindowController::applyDeviceSize(DeviceSize size)
{
    if (auto screen = windowScreen())
        size = fittedSize(size, screen->visibleFrame);
    deviceSize_ = size;
    storeDeviceSize();
    resize_->resizeWindow(windowSize(size));
}

void PlayerWindowController::applyGlareAmount(double amount)
{
    glareAmount_ = appearance::clampAmount(amount);
    defaults_.setNumber(appearance::glareAmountKey, glareAmount_);
    webView_->evaluateJavaScript(firmwareScripts::setGlare(glareAmount_));
}

void PlayerWindowController::applyShadowAmount(double amount)
{
    shadowAmount_ = appearance::clampAmount(amount);
    defaults_.setNumber(appearance::shadowAmountKey, shadowAmount_);
    webView_->evaluateJavaScript(firmwareScripts::setShadow(shadowAmount_));
}

void PlayerWindowController::applyHold(bool enabled)
{
    isHoldEnabled_ = enabled;
    webView_->evaluateJavaScript(firmwareScripts::setHold(enabled));
}

// --- navigation ---------------------------------------------------------------------------------

void PlayerWindowController::didStartProvisionalNavigation()
{
    if (!isShuttingDown_)
        bridge_->resetWebSession(SessionResetWait::no);
}

void PlayerWindowController::didFinishNavigation()
{
    window_->hideStatusText();
    window_->makeKeyAndOrderFront();
    applyHold(isHoldEnabled_);
    webView_->evaluateJavaScript(firmwareScripts::setGlare(glareAmount_));
    webView_->evaluateJavaScript(firmwareScripts::setShadow(shadowAmount_));
    window_->invalidateShadow();
    if (!isContentVisible_) {
        // Settles also when the page fails or goes: the window then shows what there is.
        webView_->callAsyncJavaScript(firmwareScripts::firstScreenBody, {},
                                      [weakSelf = std::weak_ptr<PlayerWindowController *>(self_)] {
                                          if (auto self = weakSelf.lock())
                                              (*self)->showContent();
                                      });
    }
}

void PlayerWindowController::didFailNavigation(NavigationPhase phase, const std::string &description)
{
    if (log_) {
        log_((phase == NavigationPhase::provisional ? "velto provisional navigation failed: "
                                                    : "velto navigation failed: ") +
             description);
    }
    if (!isShuttingDown_) {
        window_->showStatusText(loadFailedText);
        showContent();
    }
}

void PlayerWindowController::webContentProcessDidTerminate()
{
    if (isShuttingDown_)
        return;
    bridge_->resetWebSession(SessionResetWait::no);
    window_->showStatusText(reloadingText);
    showContent();
    webView_->load(WebResourceSchemeHandler::startURL());
}

bool PlayerWindowController::shouldAllowNavigation(const std::optional<std::string> &url)
{
    return url && isFirmwareURL(*url);
}

PressRoute PlayerWindowController::routePress(Point point, Size bounds)
{
    return isInsideWheel(point, bounds) ? PressRoute::page : PressRoute::window;
}

void PlayerWindowController::chassisClicked()
{
    webView_->evaluateJavaScript(firmwareScripts::chassisClick);
}

void PlayerWindowController::bodyMenuRequested()
{
    if (bodyMenu_ && !isShuttingDown_)
        bodyMenu_();
}

void PlayerWindowController::didReceiveScriptMessage(std::string_view bodyJSON, std::string_view pageURL)
{
    bridge_->receiveMessage(bodyJSON, messageOriginOfPage(pageURL));
}

// --- the window ---------------------------------------------------------------------------------

void PlayerWindowController::windowFrameDidChange()
{
    if (!frameAutosave_ || isShuttingDown_)
        return;
    // A drag reports every step; the frame is written once it has rested.
    frameSaveTimer_ = mainLoop_.schedule(frameSaveDelay, MainLoop::Repeat::once, [this] { saveFrame(); });
}

void PlayerWindowController::windowDidClose()
{
    if (windowClosed_)
        windowClosed_();
}

void PlayerWindowController::saveFrame()
{
    frameSaveTimer_.reset();
    defaults_.setString(savedFrame::key, savedFrame::format(window_->frame()));
}

void PlayerWindowController::shutdown()
{
    if (isShuttingDown_)
        return;
    isShuttingDown_ = true;
    saveFrame();
    bridge_->resetWebSession(SessionResetWait::yes);
    bridge_->attach(nullptr, nullptr);
    webView_->stopLoading();
    webView_->setDelegate(nullptr);
    webView_->removeScriptMessageHandler();
}

} // namespace wheelbox
