#include "window/Appearance.hpp"

#include "platform/UserDefaults.hpp"

#include <cmath>

namespace wheelbox::appearance {

double clampAmount(double amount) noexcept
{
    if (std::isnan(amount) || amount < 0)
        return 0;
    if (amount >= 2)
        return 2;
    return amount;
}

double storedGlareAmount(const UserDefaults &defaults)
{
    if (auto amount = defaults.number(glareAmountKey))
        return clampAmount(*amount);
    if (auto level = defaults.string(glareLevelKey)) {
        if (*level == "off")
            return 0.0;
        if (*level == "low")
            return 0.49;
        return 1.0;
    }
    return 1.0;
}

double storedShadowAmount(const UserDefaults &defaults)
{
    if (auto amount = defaults.number(shadowAmountKey))
        return clampAmount(*amount);
    return 1.0;
}

} // namespace wheelbox::appearance
