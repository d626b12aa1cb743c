#include "lib/icu/TextCollator.hpp"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <cstdlib>
#include <stdexcept>

namespace wheelbox::icu {

std::string TextCollator::localeFromEnvironment()
{
    for (const char *name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
        const char *value = std::getenv(name);
        if (!value || !*value)
            continue;
        std::string locale(value);
        // "de_DE.UTF-8@euro": the encoding and the POSIX modifier mean nothing to ICU.
        locale = locale.substr(0, locale.find_first_of(".@"));
        if (locale.empty() || locale == "C" || locale == "POSIX")
            return "";
        return locale;
    }
    return "";
}

std::unique_ptr<::icu::Collator> TextCollator::createCollator(const std::string &locale)
{
    UErrorCode status = U_ZERO_ERROR;
    auto icuLocale =
        locale.empty() ? ::icu::Locale::getRoot() : ::icu::Locale::createCanonical(locale.c_str());
    std::unique_ptr<::icu::Collator> collator(::icu::Collator::createInstance(icuLocale, status));
    if (U_FAILURE(status) || !collator)
        throw std::runtime_error(std::string("Cannot create a collator: ") + u_errorName(status));
    return collator;
}

TextCollator::TextCollator(const std::string &locale) : collator_(createCollator(locale))
{
    UErrorCode status = U_ZERO_ERROR;
    // Identical strength breaks every remaining tie by code points (of the NFD form), so only
    // canonically equivalent texts compare the same; case still only decides on the tertiary level.
    collator_->setStrength(::icu::Collator::IDENTICAL);
    collator_->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
    collator_->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
    if (U_FAILURE(status))
        throw std::runtime_error(std::string("Cannot configure the collator: ") + u_errorName(status));
}

TextCollator::~TextCollator() = default;

std::string TextCollator::sortKey(std::string_view utf8) const
{
    auto text =
        ::icu::UnicodeString::fromUTF8(::icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    std::string key(utf8.size() * 4 + 16, '\0');
    auto *buffer = reinterpret_cast<uint8_t *>(key.data());
    auto length = collator_->getSortKey(text, buffer, static_cast<int32_t>(key.size()));
    if (static_cast<std::size_t>(length) > key.size()) {
        key.resize(static_cast<std::size_t>(length));
        buffer = reinterpret_cast<uint8_t *>(key.data());
        length = collator_->getSortKey(text, buffer, length);
    }
    // The key ends with a zero byte that adds nothing to the order.
    key.resize(length > 0 ? static_cast<std::size_t>(length) - 1 : 0);
    return key;
}

int TextCollator::compare(std::string_view left, std::string_view right) const
{
    return sortKey(left).compare(sortKey(right));
}

} // namespace wheelbox::icu
