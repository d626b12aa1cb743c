#pragma once

#include "Syntax.hpp"

#include <string_view>

namespace wheelbox::osascript {

// Parses one program of the subset the players' scripts use. Anything outside it, including
// application terms outside their tell block, throws SyntaxError.
syntax::Program parseProgram(std::string_view source);

} // namespace wheelbox::osascript
