#pragma once

#include "Application.hpp"

#include <span>
#include <string_view>

namespace wheelbox::osascript {

// The terms one application understands. The parser reads a tell block's statements against its
// application's dictionary, so a term the application lacks is a syntax error, never a guess.
struct Dictionary {
    enum class TermKind { Property, ElementClass, Command, Constant };
    struct Term {
        std::string_view words; // lower case, single spaces
        TermKind kind;
        int code; // a Property, ElementClass or Command value; unused for constants
    };

    std::string_view applicationName;
    std::span<const Term> terms;
    // make, duplicate, delete and exists.
    bool hasStandardSuite;
};

// The dictionary of an application the stand-in can address, by name (ignoring case).
const Dictionary *findDictionary(std::string_view applicationName);

} // namespace wheelbox::osascript
