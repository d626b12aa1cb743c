#pragma once

#include <string>

namespace wheelbox {

// The shortest decimal that reads back as the same double, always with a fractional part and never
// in exponent form, so that AppleScript and JavaScript both parse it as a real: 42.0, 0.49, -0.0.
// Throws std::domain_error for infinities and NaN, which neither language can spell as a literal.
std::string formatScriptNumber(double value);

} // namespace wheelbox
