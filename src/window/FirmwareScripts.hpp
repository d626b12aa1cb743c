#pragma once

#include <string>

// The one-line scripts the device window sends to the firmware. Every call goes through optional
// chaining or a guard, so a firmware without the function skips it without an error.
namespace wheelbox::firmwareScripts {

inline constexpr const char *chassisClick = "window.veltoChassisClick?.()";
inline constexpr const char *resizeReset = "window.veltoFirmware?.resizeReset();";
inline constexpr const char *resizeGo = "window.veltoFirmware?.resizeGo();";

// Function bodies for an asynchronous call in the page; the first takes the argument "ratio".
inline constexpr const char *resizeOutBody =
    "return window.veltoFirmware && window.veltoFirmware.resizeOut(ratio);";
// Settles once the page has drawn two frames with its fonts: the first screen is then painted.
inline constexpr const char *firstScreenBody = "await document.fonts?.ready;\n"
                                               "await new Promise((resolve) => {\n"
                                               "  requestAnimationFrame(() => requestAnimationFrame(() => "
                                               "resolve(true)));\n"
                                               "});\n"
                                               "return true;";
inline constexpr const char *twoFramesBody = "return new Promise((resolve) => {\n"
                                             "  requestAnimationFrame(() => requestAnimationFrame(() => "
                                             "resolve(true)));\n"
                                             "});";

// Numbers appear as the shortest decimal that reads back as the same double, with a fractional
// part (0.5, 2.0, -3.5).
std::string setGlare(double amount);
std::string setShadow(double amount);
std::string setHold(bool enabled);
std::string resizeJumped(double dx, double dy);

} // namespace wheelbox::firmwareScripts
