#include "lib/icu/SearchText.hpp"

#include "lib/icu/Unicode.hpp"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf16.h>

#include <memory>
#include <stdexcept>

// ICU's UTF-16 iteration macros are written with C casts.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace wheelbox::icu {
namespace {

const ::icu::Normalizer2 &instance(const char *name, UNormalization2Mode mode)
{
    UErrorCode status = U_ZERO_ERROR;
    const auto *normalizer = ::icu::Normalizer2::getInstance(nullptr, name, mode, status);
    if (U_FAILURE(status) || !normalizer)
        throw std::runtime_error(std::string("ICU normalisation data is missing: ") + u_errorName(status));
    return *normalizer;
}

// NFKD with case folding: one pass from any text to decomposed, folded code points, so that
// accents stand apart as marks and can be dropped.
const ::icu::Normalizer2 &foldedDecomposition()
{
    static const auto &normalizer = instance("nfkc_cf", UNORM2_DECOMPOSE);
    return normalizer;
}

const ::icu::Normalizer2 &composition()
{
    static const auto &normalizer = instance("nfc", UNORM2_COMPOSE);
    return normalizer;
}

bool isApostrophe(UChar32 c) noexcept
{
    return c == u'\'' || c == 0x2019 || c == 0x02BC;
}

// Scripts written without spaces between words: each character may begin one.
bool standsAlone(UChar32 c) noexcept
{
    if (u_hasBinaryProperty(c, UCHAR_IDEOGRAPHIC))
        return true;
    UErrorCode status = U_ZERO_ERROR;
    auto script = uscript_getScript(c, &status);
    return U_SUCCESS(status) && (script == USCRIPT_HIRAGANA || script == USCRIPT_KATAKANA ||
                                 script == USCRIPT_KATAKANA_OR_HIRAGANA);
}

constexpr auto wordCategories = U_GC_L_MASK | U_GC_N_MASK | U_GC_MC_MASK | U_GC_ME_MASK;

std::string foldASCII(std::string_view text, bool &withoutWords)
{
    std::string words;
    std::string fallback;
    bool wordBreak = false;
    bool fallbackBreak = false;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z')) {
            if (wordBreak && !words.empty())
                words += ' ';
            wordBreak = false;
            words += static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte);
        } else if (byte != '\'') {
            wordBreak = true;
        }
        if (!words.empty())
            continue;
        // ASCII white space; control characters other than those are dropped as NFKC_Casefold
        // leaves them, and kept as separators.
        if (byte == ' ' || (byte >= '\t' && byte <= '\r') || byte < 0x20 || byte == 0x7F) {
            fallbackBreak = true;
        } else {
            if (fallbackBreak && !fallback.empty())
                fallback += ' ';
            fallbackBreak = false;
            fallback += c;
        }
    }
    withoutWords = words.empty();
    return withoutWords ? fallback : words;
}

std::string foldUnicode(std::string_view text, bool &withoutWords)
{
    UErrorCode status = U_ZERO_ERROR;
    auto decomposed = foldedDecomposition().normalize(
        ::icu::UnicodeString::fromUTF8(::icu::StringPiece(text.data(), static_cast<int32_t>(text.size()))),
        status);
    if (U_FAILURE(status))
        throw std::runtime_error(std::string("Cannot fold text: ") + u_errorName(status));

    ::icu::UnicodeString words;
    ::icu::UnicodeString fallback;
    bool wordBreak = false;
    bool fallbackBreak = false;
    const auto *units = decomposed.getBuffer();
    auto length = decomposed.length();
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U16_NEXT(units, i, length, c);
        auto category = U_GET_GC_MASK(c);
        if (category & U_GC_MN_MASK)
            continue;
        if (category & wordCategories) {
            bool alone = standsAlone(c);
            if ((wordBreak || alone) && !words.isEmpty())
                words.append(u' ');
            words.append(c);
            wordBreak = alone;
        } else if (!isApostrophe(c)) {
            wordBreak = true;
        }
        if (!words.isEmpty())
            continue;
        if (u_isUWhiteSpace(c) || (category & U_GC_CC_MASK)) {
            fallbackBreak = true;
        } else {
            if (fallbackBreak && !fallback.isEmpty())
                fallback.append(u' ');
            fallbackBreak = false;
            fallback.append(c);
        }
    }
    // Composed again, so that what is left of a syllable or a letter is one code point as in NFC.
    withoutWords = words.isEmpty();
    auto folded = composition().normalize(withoutWords ? fallback : words, status);
    if (U_FAILURE(status))
        throw std::runtime_error(std::string("Cannot fold text: ") + u_errorName(status));
    std::string result;
    folded.toUTF8String(result);
    return result;
}

bool isASCII(std::string_view text) noexcept
{
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

} // namespace

std::string foldForSearch(std::string_view text, bool &withoutWords)
{
    if (isASCII(text))
        return foldASCII(text, withoutWords);
    // fromUTF8 reads each ill-formed sequence as one U+FFFD already.
    return foldUnicode(text, withoutWords);
}

std::string foldForSearch(std::string_view text)
{
    bool withoutWords = false;
    return foldForSearch(text, withoutWords);
}

std::string leadingCharacters(std::string_view text, std::size_t count)
{
    // Every character takes at least one byte.
    if (text.size() <= count)
        return wellFormedUTF8(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<::icu::BreakIterator> characters(
        ::icu::BreakIterator::createCharacterInstance(::icu::Locale::getRoot(), status));
    if (U_FAILURE(status))
        throw std::runtime_error(std::string("ICU break data is missing: ") + u_errorName(status));
    // A huge text is read only as far as its first characters go: a growing head of it, cut
    // before a UTF-8 sequence, until the cut falls before a character of the head (a boundary
    // depends only on what precedes it and the character after it).
    for (std::size_t head = count * 8;; head *= 2) {
        bool whole = head >= text.size();
        auto cut = whole ? text.size() : head;
        while (!whole && cut > 1 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;
        auto string =
            ::icu::UnicodeString::fromUTF8(::icu::StringPiece(text.data(), static_cast<int32_t>(cut)));
        characters->setText(string);
        int32_t end = characters->first();
        std::size_t found = 0;
        while (found < count) {
            auto next = characters->next();
            if (next == ::icu::BreakIterator::DONE)
                break;
            end = next;
            ++found;
        }
        if (whole || (found == count && end < string.length())) {
            std::string result;
            string.tempSubString(0, end).toUTF8String(result);
            return result;
        }
    }
}

} // namespace wheelbox::icu
