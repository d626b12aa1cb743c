#pragma once

#include <string>
#include <string_view>

// Unicode text operations on UTF-8 strings, backed by ICU.
namespace wheelbox::icu {

// The text without Unicode white space and line breaks at either end.
std::string_view trimWhitespace(std::string_view text) noexcept;

// The canonical composed form (NFC), so canonically equivalent texts become byte-equal.
// Invalid UTF-8 sequences become U+FFFD.
std::string normalizeNFC(std::string_view text);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUTF8(std::string_view bytes) noexcept;

// The text as strict UTF-8: each ill-formed sequence (its maximal subpart) becomes one U+FFFD.
std::string wellFormedUTF8(std::string_view bytes);

// User-perceived characters (extended grapheme clusters).
std::size_t characterCount(std::string_view text);

} // namespace wheelbox::icu
