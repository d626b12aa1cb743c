#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace wheelbox {

// One thread that runs submitted tasks one at a time, in the order they were submitted: the
// program's serial work queues ("com.velto.media-worker", "com.velto.app.web-resources", ...).
// Work confined to one queue needs no lock. Every member is thread-safe.
class SerialQueue {
  public:
    // The thread is named after the label's last component ("media-worker"), cut to the 15 bytes
    // a thread name may have.
    explicit SerialQueue(std::string label);
    // Runs the tasks already submitted, then joins the thread. Must not run on the queue itself.
    ~SerialQueue();
    SerialQueue(const SerialQueue &) = delete;
    SerialQueue &operator=(const SerialQueue &) = delete;

    const std::string &label() const noexcept { return label_; }

    // Queues `task`. A task that throws ends the program, as an uncaught exception does anywhere.
    void submit(std::function<void()> task);

    // Queues `task` and blocks until it has run. Must not be called on the queue itself.
    void submitAndWait(std::function<void()> task);

    // True when called from a task running on this queue.
    bool isCurrent() const noexcept;

    // Tasks submitted and not yet finished, the running one included.
    std::size_t pendingCount() const;

  private:
    void run();

    std::string label_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::deque<std::function<void()>> tasks_;
    std::size_t running_ = 0;
    // Tasks submitted and tasks finished since the start, so a waiter knows when its own is done.
    std::uint64_t submitted_ = 0;
    std::uint64_t completed_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace wheelbox
