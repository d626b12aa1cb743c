#pragma once

namespace wheelbox {

class UserDefaults;

// Glare and shadow amounts run from 0 to 2; what an amount looks like is the firmware's choice.
namespace appearance {

inline constexpr const char *glareAmountKey = "glareAmount";
inline constexpr const char *glareLevelKey = "glareLevel";
inline constexpr const char *shadowAmountKey = "shadowAmount";

// Below 0 and not a number become 0; 2 and above become 2.
double clampAmount(double amount) noexcept;

// The stored "glareAmount", clamped; else what the older "glareLevel" said ("off" 0.0, "low" 0.49,
// any other text 1.0); else 1.0.
double storedGlareAmount(const UserDefaults &defaults);
// The stored "shadowAmount", clamped; else 1.0.
double storedShadowAmount(const UserDefaults &defaults);

} // namespace appearance
} // namespace wheelbox
