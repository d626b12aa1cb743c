#pragma once

#include "lib/glib/GLibPointers.hpp"
#include "platform/MainLoop.hpp"

#include <memory>
#include <thread>

namespace wheelbox {

// The main loop on a GLib main context: the application's default context (GTK's), or a context
// of its own for programs and tests without GTK. The thread that constructs it is the main thread.
class GLibMainLoop final : public MainLoop {
  public:
    // `context` null means the global default context.
    explicit GLibMainLoop(GMainContext *context = nullptr);
    // Tasks posted and not yet run are dropped; timers belong to their handles.
    ~GLibMainLoop() override;
    GLibMainLoop(const GLibMainLoop &) = delete;
    GLibMainLoop &operator=(const GLibMainLoop &) = delete;

    void post(std::function<void()> task) override;
    std::unique_ptr<Timer> schedule(std::chrono::nanoseconds delay, Repeat repeat,
                                    std::function<void()> task) override;
    bool isMainThread() const noexcept override { return std::this_thread::get_id() == owner_; }

    GMainContext *context() const noexcept { return context_.get(); }

    // Runs the loop until quit() (from the main thread, typically inside a task).
    void run();
    void quit();

    // Shared with every posted task, so one that outlives the loop finds it gone.
    struct Life;

  private:
    glib::MainContextPtr context_;
    glib::MainLoopPtr loop_;
    std::shared_ptr<Life> life_;
    std::thread::id owner_;
};

} // namespace wheelbox
