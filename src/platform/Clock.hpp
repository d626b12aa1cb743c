#pragma once

#include <chrono>

namespace wheelbox {

// Time as the program sees it. Injected so staleness, deadlines and probes are tested without
// sleeping. Thread-safe in every implementation.
class Clock {
  public:
    virtual ~Clock() = default;

    // Monotonic time since an arbitrary start (system uptime); for intervals and deadlines.
    virtual std::chrono::nanoseconds uptime() const noexcept = 0;

    // Wall-clock time; only for what is shown or stored as a date.
    virtual std::chrono::system_clock::time_point now() const noexcept = 0;

    // The process-wide real clock.
    static const Clock &system() noexcept;
};

} // namespace wheelbox
