#pragma once

#include "platform/MainLoop.hpp"
#include "support/ManualClock.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace wheelbox::test {

// A main loop that runs only when a test runs it, on the test's thread, with timers on a
// ManualClock: time moves only through advance(). Tasks may be posted from any thread.
class ManualMainLoop final : public MainLoop {
  public:
    explicit ManualMainLoop(ManualClock &clock) : clock_(clock), owner_(std::this_thread::get_id()) {}

    void post(std::function<void()> task) override
    {
        {
            std::lock_guard guard(lock_);
            posted_.push_back(std::move(task));
        }
        arrived_.notify_all();
    }

    std::unique_ptr<Timer> schedule(std::chrono::nanoseconds delay, Repeat repeat,
                                    std::function<void()> task) override
    {
        auto entry = std::make_shared<Entry>();
        entry->due = clock_.uptime() + delay;
        entry->interval = repeat == Repeat::repeating ? delay : std::chrono::nanoseconds(0);
        entry->task = std::move(task);
        entry->order = nextOrder_++;
        timers_.push_back(entry);
        return std::make_unique<Handle>(entry);
    }

    bool isMainThread() const noexcept override { return std::this_thread::get_id() == owner_; }

    // Runs posted tasks until none is left. Returns how many ran.
    std::size_t runPosted()
    {
        std::size_t count = 0;
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard guard(lock_);
                if (posted_.empty())
                    return count;
                task = std::move(posted_.front());
                posted_.pop_front();
            }
            task();
            ++count;
        }
    }

    // Runs posted tasks until `done` holds, waiting in real time up to `timeout` for tasks that
    // other threads post. True when `done` held.
    bool runUntil(const std::function<bool()> &done,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(10'000))
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            runPosted();
            if (done())
                return true;
            std::unique_lock guard(lock_);
            if (!arrived_.wait_until(guard, deadline, [this] { return !posted_.empty(); }))
                return done();
        }
    }

    // Moves the clock forward by `interval`, firing every timer that falls due on the way, in time
    // order, and running the tasks posted meanwhile.
    void advance(std::chrono::nanoseconds interval)
    {
        auto end = clock_.uptime() + interval;
        runPosted();
        for (;;) {
            std::shared_ptr<Entry> next = nextDue(end);
            if (!next)
                break;
            if (next->due > clock_.uptime())
                clock_.advance(next->due - clock_.uptime());
            if (next->interval.count() > 0)
                next->due += next->interval;
            else
                next->cancelled = true;
            next->task();
            runPosted();
        }
        if (end > clock_.uptime())
            clock_.advance(end - clock_.uptime());
        runPosted();
    }

    // Timers scheduled and not cancelled.
    std::size_t activeTimerCount()
    {
        prune();
        return timers_.size();
    }

  private:
    struct Entry {
        std::chrono::nanoseconds due{};
        std::chrono::nanoseconds interval{};
        std::function<void()> task;
        std::uint64_t order = 0;
        bool cancelled = false;
    };

    class Handle final : public Timer {
      public:
        explicit Handle(std::weak_ptr<Entry> entry) : entry_(std::move(entry)) {}
        ~Handle() override { cancel(); }
        void cancel() noexcept override
        {
            if (auto entry = entry_.lock())
                entry->cancelled = true;
        }

      private:
        std::weak_ptr<Entry> entry_;
    };

    void prune()
    {
        timers_.erase(
            std::remove_if(timers_.begin(), timers_.end(), [](auto &entry) { return entry->cancelled; }),
            timers_.end());
    }

    std::shared_ptr<Entry> nextDue(std::chrono::nanoseconds end)
    {
        prune();
        std::shared_ptr<Entry> best;
        for (auto &entry : timers_) {
            if (entry->due > end)
                continue;
            if (!best || entry->due < best->due || (entry->due == best->due && entry->order < best->order))
                best = entry;
        }
        return best;
    }

    ManualClock &clock_;
    std::thread::id owner_;
    std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<std::function<void()>> posted_;
    std::vector<std::shared_ptr<Entry>> timers_;
    std::uint64_t nextOrder_ = 0;
};

} // namespace wheelbox::test
