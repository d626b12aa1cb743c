#pragma once

#include "platform/Clock.hpp"

#include <atomic>
#include <cstdint>

namespace wheelbox::test {

// A clock that moves only when a test moves it. Safe to read from any thread.
class ManualClock final : public Clock {
  public:
    std::chrono::nanoseconds uptime() const noexcept override
    {
        return std::chrono::nanoseconds(uptime_.load());
    }

    std::chrono::system_clock::time_point now() const noexcept override
    {
        return std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(wallStart_ + uptime()));
    }

    void advance(std::chrono::nanoseconds by) noexcept { uptime_ += by.count(); }

  private:
    std::atomic<std::int64_t> uptime_{std::chrono::nanoseconds(std::chrono::hours(1)).count()};
    std::chrono::nanoseconds wallStart_{std::chrono::seconds(1'800'000'000)};
};

} // namespace wheelbox::test
