#pragma once

#include <string>
#include <string_view>

// Splicing text into AppleScript source; numbers are spelled by lib/text/ScriptNumber.
namespace wheelbox {

// Text for the inside of an AppleScript string literal: each backslash doubled, then each double
// quote preceded by a backslash.
std::string escapeAppleScriptString(std::string_view text);

} // namespace wheelbox
