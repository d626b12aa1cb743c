#include "platform/Clock.hpp"

namespace wheelbox {
namespace {

class SystemClock final : public Clock {
  public:
    std::chrono::nanoseconds uptime() const noexcept override
    {
        return std::chrono::steady_clock::now().time_since_epoch();
    }

    std::chrono::system_clock::time_point now() const noexcept override
    {
        return std::chrono::system_clock::now();
    }
};

} // namespace

const Clock &Clock::system() noexcept
{
    static const SystemClock clock;
    return clock;
}

} // namespace wheelbox
