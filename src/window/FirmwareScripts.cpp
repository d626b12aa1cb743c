#include "window/FirmwareScripts.hpp"

#include "lib/text/ScriptNumber.hpp"

namespace wheelbox::firmwareScripts {

std::string setGlare(double amount)
{
    return "window.veltoFirmware?.setGlare(" + formatScriptNumber(amount) + ");";
}

std::string setShadow(double amount)
{
    return "window.veltoFirmware?.setShadow(" + formatScriptNumber(amount) + ");";
}

std::string setHold(bool enabled)
{
    return std::string("window.veltoFirmware?.setHold(") + (enabled ? "true" : "false") + ");";
}

std::string resizeJumped(double dx, double dy)
{
    return "window.veltoFirmware?.resizeJumped(" + formatScriptNumber(dx) + ", " + formatScriptNumber(dy) +
           ");";
}

} // namespace wheelbox::firmwareScripts
