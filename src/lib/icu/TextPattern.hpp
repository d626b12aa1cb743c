#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

namespace wheelbox::icu {

// An ICU regular expression (the dialect of the platform's regular-expression class: `\s` and `\d`
// are Unicode classes) matched against UTF-8 text. Thread-safe: each search has its own matcher.
class TextPattern {
  public:
    // Throws std::invalid_argument for a pattern ICU refuses.
    explicit TextPattern(std::string_view pattern);
    ~TextPattern();
    TextPattern(const TextPattern &) = delete;
    TextPattern &operator=(const TextPattern &) = delete;

    // The byte range [first, second) of the first match, or nothing. Text that is not valid UTF-8
    // is searched as ICU reads it, each ill-formed sequence one U+FFFD.
    std::optional<std::pair<std::size_t, std::size_t>> find(std::string_view utf8) const;

  private:
    std::unique_ptr<::icu::RegexPattern> pattern_;
};

} // namespace wheelbox::icu
