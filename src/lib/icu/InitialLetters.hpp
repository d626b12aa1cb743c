#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class Collator;
U_NAMESPACE_END

namespace wheelbox::icu {

// The letter a name files under in a sorted list, the large letter a reader sees while the list
// spins: the letter its first character sorts as, upper-cased ("é" under "E", "ø" under "O", "ß"
// under "S", a Hangul syllable under its leading consonant), or the character itself where the
// locale's collation counts it as a letter of its own ("Å" in Swedish). Anything that does not begin with a
// letter (a digit, a symbol, a space) files under "#": the collation sorts all of those before the
// letters. The first character alone decides, so a sorted list gives each initial one run.
// Not thread-safe: one owner thread.
class InitialLetters {
  public:
    static constexpr std::string_view other = "#";

    // "" is the root locale. Throws std::runtime_error when ICU has no collation data at all.
    explicit InitialLetters(const std::string &locale);
    ~InitialLetters();
    InitialLetters(const InitialLetters &) = delete;
    InitialLetters &operator=(const InitialLetters &) = delete;

    // Valid until the next call. Ill-formed UTF-8 files under "#".
    std::string_view initialOf(std::string_view utf8);

  private:
    std::string letterOf(int codePoint) const;
    std::string primaryKey(int codePoint) const;

    std::unique_ptr<::icu::Collator> primary_;
    std::unordered_map<int, std::string> letters_; // by first code point, outside ASCII
    std::string ascii_;
};

} // namespace wheelbox::icu
