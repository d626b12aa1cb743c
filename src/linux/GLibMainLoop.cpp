#include "linux/GLibMainLoop.hpp"

#include <algorithm>
#include <deque>
#include <mutex>

namespace wheelbox {

struct GLibMainLoop::Life {
    // Cleared by the destructor, on the main thread, where posted tasks also run.
    bool alive = true;

    // Tasks cross threads through this queue under our own lock rather than as GLib source data:
    // GLib's futex locks order the hand-over too, but invisibly to the thread sanitizer.
    std::mutex lock;
    std::deque<std::function<void()>> inbox;
    bool wakeAttached = false; // one idle source drains the inbox at a time

    static gboolean drain(gpointer data)
    {
        auto &life = *static_cast<std::shared_ptr<Life> *>(data);
        std::deque<std::function<void()>> batch;
        {
            std::lock_guard guard(life->lock);
            batch.swap(life->inbox);
            life->wakeAttached = false;
        }
        // Only what was posted before this wake runs now; a task posted by one of these queues a
        // fresh wake, so other sources get their turn in between.
        for (auto &task : batch) {
            if (!life->alive)
                break;
            task();
        }
        return G_SOURCE_REMOVE;
    }
};

namespace {

class GLibTimer final : public MainLoop::Timer {
  public:
    GLibTimer(GMainContext *context, std::chrono::nanoseconds delay, bool repeating,
              std::function<void()> task)
        : state_(std::make_unique<State>(State{std::move(task), repeating}))
    {
        // Rounded up: a timer may fire late, never early.
        auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(delay).count();
        source_.reset(
            g_timeout_source_new(static_cast<guint>(std::clamp<long long>(milliseconds, 0, G_MAXUINT))));
        g_source_set_callback(source_.get(), &GLibTimer::fire, state_.get(), nullptr);
        g_source_attach(source_.get(), context);
    }

    // The source goes first, so it never fires with the state gone.
    ~GLibTimer() override { cancel(); }

    void cancel() noexcept override { source_.reset(); }

  private:
    struct State {
        std::function<void()> task;
        bool repeating = false;
    };

    static gboolean fire(gpointer data)
    {
        auto *state = static_cast<State *>(data);
        bool repeating = state->repeating;
        // The task may destroy this timer (and its state): copy what is needed first.
        std::function<void()> task = state->task;
        task();
        return repeating ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
    }

    std::unique_ptr<State> state_;
    glib::SourcePtr source_;
};

} // namespace

GLibMainLoop::GLibMainLoop(GMainContext *context)
    : context_(g_main_context_ref(context ? context : g_main_context_default())),
      loop_(g_main_loop_new(context_.get(), FALSE)), life_(std::make_shared<Life>()),
      owner_(std::this_thread::get_id())
{}

GLibMainLoop::~GLibMainLoop()
{
    life_->alive = false;
    std::deque<std::function<void()>> dropped;
    std::lock_guard guard(life_->lock);
    dropped.swap(life_->inbox);
}

void GLibMainLoop::post(std::function<void()> task)
{
    {
        std::lock_guard guard(life_->lock);
        life_->inbox.push_back(std::move(task));
        if (life_->wakeAttached)
            return;
        life_->wakeAttached = true;
    }
    // An idle source rather than g_main_context_invoke: invoke runs at once when called on the
    // owning thread, ahead of tasks posted earlier.
    GSource *source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, &Life::drain, new std::shared_ptr<Life>(life_),
                          [](gpointer data) { delete static_cast<std::shared_ptr<Life> *>(data); });
    g_source_attach(source, context_.get());
    g_source_unref(source);
}

std::unique_ptr<MainLoop::Timer> GLibMainLoop::schedule(std::chrono::nanoseconds delay, Repeat repeat,
                                                        std::function<void()> task)
{
    return std::make_unique<GLibTimer>(context_.get(), delay, repeat == Repeat::repeating, std::move(task));
}

void GLibMainLoop::run()
{
    g_main_loop_run(loop_.get());
}

void GLibMainLoop::quit()
{
    g_main_loop_quit(loop_.get());
}

} // namespace wheelbox
