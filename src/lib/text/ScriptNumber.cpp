#include "lib/text/ScriptNumber.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace wheelbox {

std::string formatScriptNumber(double value)
{
    if (!std::isfinite(value))
        throw std::domain_error("A script number must be finite.");
    // Fixed notation of the largest double is 309 digits; the shortest round trip never needs more.
    std::array<char, 400> buffer{};
    auto [end, error] =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed);
    if (error != std::errc())
        throw std::domain_error("A script number could not be written.");
    std::string text(buffer.data(), end);
    if (text.find('.') == std::string::npos)
        text += ".0";
    return text;
}

} // namespace wheelbox
