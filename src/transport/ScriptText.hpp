#pragma once

#include <string>
#include <string_view>

// Helpers for splicing values into AppleScript and JavaScript source text.
namespace wheelbox {

// The shortest decimal that reads back as the same double, always with a fractional part and never
// in exponent form, so both languages parse it as a real: 42.0, 0.49, -0.0. Throws
// std::domain_error for infinities and NaN, which neither language can spell as a literal.
std::string formatScriptNumber(double value);

// Text for the inside of an AppleScript string literal: each backslash doubled, then each double
// quote preceded by a backslash.
std::string escapeAppleScriptString(std::string_view text);

} // namespace wheelbox
