#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace wheelbox {

// The main thread's event loop: the window, the web view, the bridge's state, its timers and every
// delivery run there. The GLib main context in the application, a manual loop in tests.
class MainLoop {
  public:
    // A scheduled callback. Destroying the handle, or cancel(), stops it for good; afterwards the
    // callback never runs again. Main thread only.
    class Timer {
      public:
        virtual ~Timer() = default;
        virtual void cancel() noexcept = 0;
    };

    enum class Repeat { once, repeating };

    virtual ~MainLoop() = default;

    // Runs `task` on the main thread soon, after the tasks posted before it. Callable from any
    // thread, also while the loop is not running; tasks posted after the loop ended are dropped.
    virtual void post(std::function<void()> task) = 0;

    // Runs `task` on the main thread after `delay`, once or every `delay` until the timer is
    // cancelled. Main thread only.
    [[nodiscard]] virtual std::unique_ptr<Timer> schedule(std::chrono::nanoseconds delay, Repeat repeat,
                                                          std::function<void()> task) = 0;

    // True on the thread that runs the loop.
    virtual bool isMainThread() const noexcept = 0;
};

} // namespace wheelbox
