#include "lib/icu/Unicode.hpp"

#include <unicode/brkiter.h>
#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <memory>
#include <stdexcept>

// ICU's UTF-8 iteration macros are written with C casts.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace wheelbox::icu {
namespace {

const ::icu::Normalizer2 &nfc()
{
    UErrorCode status = U_ZERO_ERROR;
    const auto *normalizer = ::icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status) || !normalizer)
        throw std::runtime_error(std::string("ICU NFC data is missing: ") + u_errorName(status));
    return *normalizer;
}

} // namespace

std::string_view trimWhitespace(std::string_view text) noexcept
{
    const auto *bytes = reinterpret_cast<const uint8_t *>(text.data());
    auto length = static_cast<int32_t>(text.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !u_isUWhiteSpace(c))
            break;
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, start, previous, c);
        if (c < 0 || !u_isUWhiteSpace(c))
            break;
        end = previous;
    }
    return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

std::string normalizeNFC(std::string_view text)
{
    const auto &normalizer = nfc();
    UErrorCode status = U_ZERO_ERROR;
    ::icu::StringPiece piece(text.data(), static_cast<int32_t>(text.size()));
    // Nearly all library text is already NFC and valid; that check is far cheaper than rewriting.
    if (isValidUTF8(text) && normalizer.isNormalizedUTF8(piece, status) && U_SUCCESS(status))
        return std::string(text);
    status = U_ZERO_ERROR;
    std::string result;
    ::icu::StringByteSink<std::string> sink(&result, static_cast<int32_t>(text.size()));
    // Through UTF-16 so that ill-formed input becomes U+FFFD instead of an error.
    auto normalized = normalizer.normalize(::icu::UnicodeString::fromUTF8(piece), status);
    if (U_FAILURE(status))
        throw std::runtime_error(std::string("Cannot normalise text: ") + u_errorName(status));
    normalized.toUTF8(sink);
    return result;
}

bool isValidUTF8(std::string_view bytes) noexcept
{
    const auto *data = reinterpret_cast<const uint8_t *>(bytes.data());
    auto length = static_cast<int32_t>(bytes.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        // U8_NEXT yields a negative value for every ill-formed sequence, surrogates and
        // overlong forms included.
        U8_NEXT(data, i, length, c);
        if (c < 0)
            return false;
    }
    return true;
}

std::string wellFormedUTF8(std::string_view bytes)
{
    if (isValidUTF8(bytes))
        return std::string(bytes);
    const auto *data = reinterpret_cast<const uint8_t *>(bytes.data());
    auto length = static_cast<int32_t>(bytes.size());
    std::string text;
    text.reserve(bytes.size() + 8);
    for (int32_t i = 0; i < length;) {
        int32_t start = i;
        UChar32 c;
        U8_NEXT(data, i, length, c);
        if (c < 0)
            text += "\xEF\xBF\xBD";
        else
            text.append(bytes.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
    }
    return text;
}

std::size_t characterCount(std::string_view text)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<::icu::BreakIterator> characters(
        ::icu::BreakIterator::createCharacterInstance(::icu::Locale::getRoot(), status));
    if (U_FAILURE(status))
        throw std::runtime_error(std::string("ICU break data is missing: ") + u_errorName(status));
    auto string =
        ::icu::UnicodeString::fromUTF8(::icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    characters->setText(string);
    std::size_t count = 0;
    characters->first();
    while (characters->next() != ::icu::BreakIterator::DONE)
        ++count;
    return count;
}

} // namespace wheelbox::icu
