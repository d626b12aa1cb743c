#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class Collator;
U_NAMESPACE_END

namespace wheelbox::icu {

// The Finder-like order of names: locale-aware, digits compared by value, letter case deciding
// only between texts that are otherwise equal. Two texts compare the same only when they are
// canonically equivalent. Not thread-safe: one owner thread.
class TextCollator {
  public:
    // The user's collation locale: LC_ALL, else LC_COLLATE, else LANG ("de_DE.UTF-8" -> "de_DE");
    // "C", "POSIX" or nothing give the root locale.
    static std::string localeFromEnvironment();

    // ICU's collator for a locale as this class names it ("" is the root locale), as ICU makes it.
    // Throws std::runtime_error when ICU has no collation data at all.
    static std::unique_ptr<::icu::Collator> createCollator(const std::string &locale);

    // Throws std::runtime_error when ICU has no collation data at all.
    explicit TextCollator(const std::string &locale = localeFromEnvironment());
    ~TextCollator();
    TextCollator(const TextCollator &) = delete;
    TextCollator &operator=(const TextCollator &) = delete;

    // A key whose byte order (as unsigned bytes, e.g. std::string::compare) is the collation order.
    // Sorting by keys computed once is much cheaper than comparing texts in a sort.
    std::string sortKey(std::string_view utf8) const;

    // <0, 0 or >0, as the texts' sort keys compare.
    int compare(std::string_view left, std::string_view right) const;

  private:
    std::unique_ptr<::icu::Collator> collator_;
};

} // namespace wheelbox::icu
