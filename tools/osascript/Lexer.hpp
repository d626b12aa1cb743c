#pragma once

#include "Errors.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace wheelbox::osascript {

struct Token {
    enum class Kind {
        Word,       // identifiers and keywords; `text` holds the lower-cased form, `spelling` the original
        Number,     // `text` holds the literal
        String,     // `text` holds the value, escapes resolved
        Symbol,     // ( ) { } , : & + - * / ^ = ≠ < > ≤ ≥ <= >=
        Possessive, // 's
        EndOfLine,
        EndOfScript,
    };
    Kind kind;
    std::string text;
    std::string spelling;
    SourceRange range;
};

// Splits a program into tokens. Comments vanish; `¬` joins a line with the next one. Throws
// SyntaxError for text that cannot start a token.
std::vector<Token> tokenize(std::string_view source);

} // namespace wheelbox::osascript
