#include "linux/LinuxPowerSource.hpp"

#include <gtest/gtest.h>

namespace wheelbox {
namespace {

struct PowerSupplyCase {
    const char *folder; // under fixtures/power_supply/
    std::optional<BatteryReading> reading;
};

class PowerSupplies : public ::testing::TestWithParam<PowerSupplyCase> {};

TEST_P(PowerSupplies, GiveTheInternalBatteryReadingOrNone)
{
    LinuxPowerSource source(std::filesystem::path("fixtures/power_supply") / GetParam().folder);
    EXPECT_EQ(source.battery(), GetParam().reading);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, PowerSupplies,
    ::testing::Values(
        // Mains power only.
        PowerSupplyCase{"desktop", std::nullopt},
        // More energy than the full charge (a worn battery's estimate): level 1. Energy before charge.
        PowerSupplyCase{"above-maximum", BatteryReading{1.0, false}},
        // Only charge_* values, and the status that counts as charging.
        PowerSupplyCase{"charging", BatteryReading{0.5, true}},
        // A mouse's battery (scope Device) comes first by name and is skipped.
        PowerSupplyCase{"peripheral", BatteryReading{0.75, false}},
        PowerSupplyCase{"peripheral-only", std::nullopt},
        // A battery with a zero full value, and one whose energy_full is unreadable: the charge pair counts.
        PowerSupplyCase{"zero-maximum", BatteryReading{0.75, true}},
        // Only the percentage, as many laptops' drivers give it; above 100 is full, and "Full" is
        // not charging.
        PowerSupplyCase{"capacity-only", BatteryReading{0.57, true}},
        PowerSupplyCase{"capacity-above-hundred", BatteryReading{1.0, false}},
        PowerSupplyCase{"no-such-folder", std::nullopt}),
    [](const auto &testCase) {
        std::string name = testCase.param.folder;
        std::erase(name, '-');
        return name;
    });

} // namespace
} // namespace wheelbox
