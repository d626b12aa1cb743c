#pragma once

#include <boost/json/value.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace wheelbox {

// Compact JSON text that is also a valid JavaScript expression on one line, whatever the strings
// hold: control characters, U+2028 and U+2029 are escaped, and each ill-formed UTF-8 sequence
// (tags of a badly written music file) becomes one U+FFFD, so the text is always valid UTF-8.
// Doubles are written in their shortest form with a fractional part and no exponent (42.0, 0.49),
// integers as integers. Nothing when the value holds a non-finite number or is
// nested deeper than maximumPageJSONDepth.
std::optional<std::string> toPageJSON(const boost::json::value &value);

// Appends the JSON text of `value` to `out`; false (with `out` partly written) when it cannot be
// written.
bool appendPageJSON(std::string &out, const boost::json::value &value);

// Appends `text` as a JSON string literal, under the same rules.
void appendPageJSONString(std::string &out, std::string_view text);

inline constexpr int maximumPageJSONDepth = 256;

} // namespace wheelbox
