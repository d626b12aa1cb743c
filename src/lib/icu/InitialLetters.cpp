#include "lib/icu/InitialLetters.hpp"

#include "lib/icu/TextCollator.hpp"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <vector>

// ICU's UTF-8 iteration macros are written with C casts.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace wheelbox::icu {
namespace {

bool isLetter(UChar32 c) noexcept
{
    return (U_GET_GC_MASK(c) & U_GC_L_MASK) != 0;
}

bool isMark(UChar32 c) noexcept
{
    return (U_GET_GC_MASK(c) & U_GC_M_MASK) != 0;
}

std::string utf8Of(UChar32 c)
{
    std::string text;
    ::icu::UnicodeString(c).toUTF8String(text);
    return text;
}

} // namespace

InitialLetters::InitialLetters(const std::string &locale) : primary_(TextCollator::createCollator(locale))
{
    // Base letters only: accents and case are the secondary and tertiary levels.
    primary_->setStrength(::icu::Collator::PRIMARY);
}

InitialLetters::~InitialLetters() = default;

std::string_view InitialLetters::initialOf(std::string_view utf8)
{
    if (utf8.empty())
        return other;
    auto first = static_cast<unsigned char>(utf8.front());
    // Most titles begin in ASCII, where the letter is the byte itself.
    if (first < 0x80) {
        if (first >= 'a' && first <= 'z')
            first = static_cast<unsigned char>(first - 'a' + 'A');
        if (first < 'A' || first > 'Z')
            return other;
        ascii_.assign(1, static_cast<char>(first));
        return ascii_;
    }
    const auto *bytes = reinterpret_cast<const uint8_t *>(utf8.data());
    int32_t next = 0;
    UChar32 c;
    U8_NEXT(bytes, next, static_cast<int32_t>(utf8.size()), c);
    if (c < 0 || !isLetter(c))
        return other;
    auto known = letters_.find(c);
    if (known == letters_.end())
        known = letters_.emplace(c, letterOf(c)).first;
    return known->second;
}

std::string InitialLetters::primaryKey(UChar32 c) const
{
    ::icu::UnicodeString text(c);
    std::string key(32, '\0');
    auto length =
        primary_->getSortKey(text, reinterpret_cast<uint8_t *>(key.data()), static_cast<int32_t>(key.size()));
    if (static_cast<std::size_t>(length) > key.size()) {
        key.resize(static_cast<std::size_t>(length));
        length = primary_->getSortKey(text, reinterpret_cast<uint8_t *>(key.data()), length);
    }
    // The key ends with a zero byte that adds nothing to the order.
    key.resize(length > 0 ? static_cast<std::size_t>(length) - 1 : 0);
    return key;
}

std::string InitialLetters::letterOf(UChar32 c) const
{
    UErrorCode status = U_ZERO_ERROR;
    const auto *nfd = ::icu::Normalizer2::getNFDInstance(status);
    ::icu::UnicodeString decomposed;
    UChar32 letter = c;
    std::vector<UChar32> candidates;
    if (U_SUCCESS(status) && nfd->getDecomposition(c, decomposed) && !decomposed.isEmpty()) {
        UChar32 base = decomposed.char32At(0);
        bool onlyMarks = true;
        for (int32_t i = U16_LENGTH(base); i < decomposed.length(); i = decomposed.moveIndex32(i, 1))
            onlyMarks = onlyMarks && isMark(decomposed.char32At(i));
        // A Hangul syllable: its leading consonant, which its place in the order follows.
        if (!onlyMarks)
            return utf8Of(base);
        if (isLetter(base))
            candidates.push_back(base);
    }
    // "é" is an "e" and, in most locales, "ø" an "o" and "æ" an "a" followed by an "e": a letter
    // files under the letter its collation weights begin with, unless the locale sorts it as a
    // letter of its own ("å" in Swedish).
    for (UChar32 latin = 'A'; latin <= 'Z'; ++latin)
        candidates.push_back(latin);
    auto key = primaryKey(c);
    for (auto candidate : candidates) {
        auto prefix = primaryKey(candidate);
        if (!prefix.empty() && key.starts_with(prefix)) {
            letter = candidate;
            break;
        }
    }
    ::icu::UnicodeString upper(letter);
    upper.toUpper(::icu::Locale::getRoot());
    return utf8Of(upper.isEmpty() ? letter : upper.char32At(0));
}

} // namespace wheelbox::icu
