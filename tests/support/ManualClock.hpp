#pragma once

#include "platform/Clock.hpp"

#include <atomic>

namespace wheelbox::test {

// A clock that moves only when a test moves it.
class ManualClock final : public Clock {
  public:
    std::chrono::nanoseconds uptime() const noexcept override { return uptime_.load(); }
    std::chrono::system_clock::time_point now() const noexcept override
    {
        return std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(wallStart_ + uptime_.load()));
    }

    void advance(std::chrono::nanoseconds by) noexcept { uptime_ += by; }

  private:
    std::atomic<std::chrono::nanoseconds> uptime_{std::chrono::hours(1)};
    std::chrono::nanoseconds wallStart_{std::chrono::seconds(1'800'000'000)};
};

} // namespace wheelbox::test
