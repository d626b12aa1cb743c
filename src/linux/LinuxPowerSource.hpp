#pragma once

#include "platform/PowerSource.hpp"

#include <filesystem>

namespace wheelbox {

// The battery as the kernel reports it under /sys/class/power_supply: the first supply, in name
// order, whose `type` is "Battery" and whose `scope` is not "Device" (a mouse's or a headset's
// battery says "Device"), with energy_now / energy_full, else charge_now / charge_full (a full
// value above 0), else the percentage in `capacity`. Reads a handful of small files per call. Main
// thread only.
class LinuxPowerSource final : public PowerSource {
  public:
    // `root` is the power-supply folder; tests pass a fixture folder.
    explicit LinuxPowerSource(std::filesystem::path root = "/sys/class/power_supply");

    std::optional<BatteryReading> battery() const override;

  private:
    std::filesystem::path root_;
};

} // namespace wheelbox
