#include "window/ResizeSequence.hpp"

#include "window/FirmwareScripts.hpp"
#include "window/ScreenFitting.hpp"

#include <cmath>

namespace wheelbox {

ResizeSequence::ResizeSequence(MainLoop &mainLoop, const Screens &screens, DeviceWindow &window,
                               DeviceWebView &webView)
    : mainLoop_(mainLoop), screens_(screens), window_(window), webView_(webView),
      self_(std::make_shared<ResizeSequence *>(this))
{}

ResizeSequence::~ResizeSequence() = default;

std::function<void()> ResizeSequence::whileLive(std::uint64_t generation, std::function<void()> step)
{
    return [weakSelf = std::weak_ptr<ResizeSequence *>(self_), generation, step = std::move(step)] {
        auto self = weakSelf.lock();
        if (self && (*self)->generation_ == generation)
            step();
    };
}

void ResizeSequence::resizeWindow(Size size)
{
    std::uint64_t generation = ++generation_;
    timers_.clear();
    Rect frame = window_.frame();
    if (std::abs(size.width - frame.size.width) <= 0.5) {
        overlay_.reset();
        webView_.setAlpha(1);
        webView_.evaluateJavaScript(firmwareScripts::resizeReset);
        return;
    }
    if (frame.size.width < size.width) {
        takeSnapshot(generation, size, Grow::yes);
        return;
    }
    webView_.callAsyncJavaScript(
        firmwareScripts::resizeOutBody, {{"ratio", size.width / frame.size.width}},
        whileLive(generation, [this, generation, size] { takeSnapshot(generation, size, Grow::no); }));
}

void ResizeSequence::takeSnapshot(std::uint64_t generation, Size size, Grow grow)
{
    auto weakSelf = std::weak_ptr<ResizeSequence *>(self_);
    webView_.takeSnapshot([weakSelf, generation, size, grow](std::unique_ptr<Snapshot> snapshot) {
        auto self = weakSelf.lock();
        if (self && (*self)->generation_ == generation)
            (*self)->handOver(generation, size, grow, std::move(snapshot));
    });
}

void ResizeSequence::handOver(std::uint64_t generation, Size size, Grow grow,
                              std::unique_ptr<Snapshot> snapshot)
{
    Rect old = window_.frame();
    overlay_.reset();
    if (snapshot)
        overlay_ = window_.addResizeOverlay(std::move(snapshot));
    if (overlay_)
        webView_.setAlpha(0);
    changeWindowSize(size);
    Rect now = window_.frame();
    // The picture stays where it was on the screen while the window moved around it.
    if (overlay_)
        overlay_->setOrigin({std::round(old.minX() - now.minX()), std::round(old.minY() - now.minY())});

    Resume resume = grow == Grow::yes ? Resume::yes : Resume::no;
    double dx = old.midX() - now.midX();
    double dy = now.midY() - old.midY();
    if (std::abs(dx) > 0.5 || std::abs(dy) > 0.5) {
        webView_.evaluateJavaScript(firmwareScripts::resizeJumped(dx, dy));
        resume = Resume::yes;
    }

    webView_.callAsyncJavaScript(
        firmwareScripts::twoFramesBody, {}, whileLive(generation, [this, generation, resume] {
            timers_.push_back(mainLoop_.schedule(
                pauseAfterFrames, MainLoop::Repeat::once,
                whileLive(generation, [this, generation, resume] { finish(generation, resume); })));
        }));
    // A page that never draws (a hidden window renders no frames) still gets its device back.
    timers_.push_back(mainLoop_.schedule(
        fallback, MainLoop::Repeat::once,
        whileLive(generation, [this, generation, resume] { finish(generation, resume); })));
}

void ResizeSequence::changeWindowSize(Size size)
{
    Rect frame = window_.frame();
    Point centre{frame.midX(), frame.midY()};
    if (anchor_ && anchor_->frame == frame)
        centre = anchor_->centre;
    Rect centred = centredFrame(centre, size);
    Rect next = centred;
    std::optional<Screen> screen = screenOfFrame(frame, screens_.screens());
    if (!screen)
        screen = screens_.mainScreen();
    if (screen)
        next = clampedFrame(next, screen->visibleFrame);
    window_.setFrame(next, Redisplay::yes);
    // A window the screen pushed aside has a new centre of its own.
    if (window_.frame() == centred)
        anchor_ = Anchor{centred, centre};
    else
        anchor_.reset();
}

void ResizeSequence::finish(std::uint64_t generation, Resume resume)
{
    // The two-frame path and the fallback both end here; only the first does anything.
    if (finishedGeneration_ == generation)
        return;
    finishedGeneration_ = generation;
    webView_.setAlpha(1);
    if (overlay_)
        window_.fadeOutAndRemove(std::move(overlay_), fade);
    // Sent also when no snapshot could be shown: a firmware that grew or jumped waits for it.
    if (resume == Resume::yes) {
        timers_.push_back(mainLoop_.schedule(goDelay, MainLoop::Repeat::once, whileLive(generation, [this] {
                                                 webView_.evaluateJavaScript(firmwareScripts::resizeGo);
                                             })));
    }
}

} // namespace wheelbox
