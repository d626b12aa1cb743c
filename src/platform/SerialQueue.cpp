#include "platform/SerialQueue.hpp"

#include <pthread.h>

namespace wheelbox {
namespace {

std::string threadName(const std::string &label)
{
    std::string name = label.substr(label.rfind('.') == std::string::npos ? 0 : label.rfind('.') + 1);
    // pthread_setname_np refuses names longer than 15 bytes; cut at a UTF-8 character boundary.
    if (name.size() > 15) {
        std::size_t end = 15;
        while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
            --end;
        name.resize(end);
    }
    return name;
}

} // namespace

SerialQueue::SerialQueue(std::string label) : label_(std::move(label))
{
    thread_ = std::thread([this] {
        ::pthread_setname_np(::pthread_self(), threadName(label_).c_str());
        run();
    });
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void SerialQueue::submit(std::function<void()> task)
{
    {
        std::lock_guard guard(lock_);
        tasks_.push_back(std::move(task));
        ++submitted_;
    }
    wake_.notify_one();
}

void SerialQueue::submitAndWait(std::function<void()> task)
{
    // Waits for the loop to count the task as finished, not only for its body to return, so the
    // queue's bookkeeping (pendingCount) already shows it done when this returns.
    std::unique_lock guard(lock_);
    tasks_.push_back(std::move(task));
    std::uint64_t ticket = ++submitted_;
    wake_.notify_one();
    finished_.wait(guard, [&] { return completed_ >= ticket; });
}

bool SerialQueue::isCurrent() const noexcept
{
    return std::this_thread::get_id() == thread_.get_id();
}

std::size_t SerialQueue::pendingCount() const
{
    std::lock_guard guard(lock_);
    return tasks_.size() + running_;
}

void SerialQueue::run()
{
    std::unique_lock guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty())
            return; // stopping, and everything submitted has run
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        running_ = 1;
        guard.unlock();
        task();
        guard.lock();
        running_ = 0;
        ++completed_;
        finished_.notify_all();
    }
}

} // namespace wheelbox
