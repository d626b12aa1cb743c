#include "lib/icu/TextPattern.hpp"

#include <unicode/regex.h>
#include <unicode/utext.h>

#include <stdexcept>
#include <string>

namespace wheelbox::icu {
namespace {

struct UTextCloser {
    void operator()(UText *text) const noexcept { utext_close(text); }
};

} // namespace

TextPattern::TextPattern(std::string_view pattern)
{
    UErrorCode status = U_ZERO_ERROR;
    UParseError where{};
    pattern_.reset(::icu::RegexPattern::compile(::icu::UnicodeString::fromUTF8(::icu::StringPiece(
                                                    pattern.data(), static_cast<int32_t>(pattern.size()))),
                                                0, where, status));
    if (U_FAILURE(status) || !pattern_)
        throw std::invalid_argument("Not a regular expression: " + std::string(pattern) + " (" +
                                    u_errorName(status) + ")");
}

TextPattern::~TextPattern() = default;

std::optional<std::pair<std::size_t, std::size_t>> TextPattern::find(std::string_view utf8) const
{
    UErrorCode status = U_ZERO_ERROR;
    // Over the UTF-8 bytes themselves, so the match's native indices are byte offsets.
    std::unique_ptr<UText, UTextCloser> text(
        utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status));
    std::unique_ptr<::icu::RegexMatcher> matcher(pattern_->matcher(status));
    if (U_FAILURE(status))
        throw std::runtime_error(std::string("Cannot search text: ") + u_errorName(status));
    matcher->reset(text.get());
    if (!matcher->find(status) || U_FAILURE(status))
        return std::nullopt;
    auto start = matcher->start64(status);
    auto end = matcher->end64(status);
    if (U_FAILURE(status))
        return std::nullopt;
    return std::pair{static_cast<std::size_t>(start), static_cast<std::size_t>(end)};
}

} // namespace wheelbox::icu
