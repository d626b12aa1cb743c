#pragma once

#include "platform/MainLoop.hpp"
#include "window/DeviceWebView.hpp"
#include "window/DeviceWindow.hpp"
#include "window/Screens.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace wheelbox {

// Changing the device window's size with the firmware's animation: the firmware shrinks its
// drawing first (resizeOut), a snapshot of the old device stands still on the screen while the
// window changes size around its centre, and the live page fades back in (resizeGo). Each resize
// takes the next generation; every asynchronous step of an older one then does nothing. Main
// thread; owned by the window controller, it must not outlive the window or the web view.
class ResizeSequence {
  public:
    static constexpr std::chrono::milliseconds pauseAfterFrames{100};
    static constexpr std::chrono::milliseconds fallback{800};
    static constexpr std::chrono::milliseconds fade{120};
    static constexpr std::chrono::milliseconds goDelay{120};

    ResizeSequence(MainLoop &mainLoop, const Screens &screens, DeviceWindow &window, DeviceWebView &webView);
    ~ResizeSequence();
    ResizeSequence(const ResizeSequence &) = delete;
    ResizeSequence &operator=(const ResizeSequence &) = delete;

    // The window to `size` (whole pixels), keeping its centre where the screen allows.
    void resizeWindow(Size size);

    std::uint64_t generation() const noexcept { return generation_; }
    bool hasOverlay() const noexcept { return overlay_ != nullptr; }

  private:
    enum class Grow { no, yes };
    enum class Resume { no, yes };

    // Runs `step` later only while this sequence is still the live one.
    std::function<void()> whileLive(std::uint64_t generation, std::function<void()> step);
    void takeSnapshot(std::uint64_t generation, Size size, Grow grow);
    void handOver(std::uint64_t generation, Size size, Grow grow, std::unique_ptr<Snapshot> snapshot);
    void changeWindowSize(Size size);
    void finish(std::uint64_t generation, Resume resume);

    MainLoop &mainLoop_;
    const Screens &screens_;
    DeviceWindow &window_;
    DeviceWebView &webView_;
    std::uint64_t generation_ = 0;
    std::uint64_t finishedGeneration_ = 0;
    std::unique_ptr<ResizeOverlay> overlay_;
    // The exact centre behind the frame the last resize set. An odd size (small) cannot sit on a
    // half pixel; while the window stays where the resize put it, the next size is centred on the
    // exact point again, so going back and forth never creeps.
    struct Anchor {
        Rect frame;
        Point centre;
    };
    std::optional<Anchor> anchor_;
    // The live sequence's timers; a new sequence drops them.
    std::vector<std::unique_ptr<MainLoop::Timer>> timers_;
    // Completions of WebKit calls may arrive after this object is gone.
    std::shared_ptr<ResizeSequence *> self_;
};

} // namespace wheelbox
