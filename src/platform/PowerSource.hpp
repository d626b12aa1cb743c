#pragma once

#include <optional>

namespace wheelbox {

// The machine's own battery, as the device's battery icon shows it.
struct BatteryReading {
    double level = 0; // 0...1
    bool charging = false;

    bool operator==(const BatteryReading &) const = default;
};

// Where the battery reading comes from. Main thread only.
class PowerSource {
  public:
    virtual ~PowerSource() = default;
    // The internal battery's reading, or nothing on a machine without one (a desktop).
    virtual std::optional<BatteryReading> battery() const = 0;
};

} // namespace wheelbox
