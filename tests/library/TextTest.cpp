#include "lib/icu/InitialLetters.hpp"
#include "lib/icu/TextCollator.hpp"
#include "lib/icu/Unicode.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace wheelbox::icu {
namespace {

TEST(Unicode, TrimsUnicodeWhiteSpaceAndLineBreaksAtBothEnds)
{
    struct Case {
        const char *text;
        const char *trimmed;
    };
    const Case cases[] = {
        {"  Alpha  ", "Alpha"},         {"\t\nAlpha\r\n", "Alpha"}, {"\u00a0\u3000Alpha\u2029", "Alpha"},
        {"Al pha", "Al pha"},           {" \u00a0 ", ""},           {"", ""},
        {"\u200bAlpha", "\u200bAlpha"}, // zero-width space is not white space
    };
    for (auto [text, trimmed] : cases)
        EXPECT_EQ(trimWhitespace(text), trimmed) << text;
}

TEST(Unicode, NormalisesToComposedForm)
{
    EXPECT_EQ(normalizeNFC("Ce\u0301line"), "C\u00e9line");
    EXPECT_EQ(normalizeNFC("C\u00e9line"), "C\u00e9line");
    EXPECT_EQ(normalizeNFC("A\xff"), "A\ufffd");
}

TEST(TextCollator, OrdersLikeAFileBrowser)
{
    TextCollator collator("");
    // Each text sorts strictly before the next.
    const char *ordered[] = {"",     "2 Become 1", "10 Years", "apple",     "Apple", "Échelle",
                             "Echo", "Track 2",    "Track 10", "track 10b", "Zebra"};
    for (std::size_t i = 0; i + 1 < std::size(ordered); ++i)
        EXPECT_LT(collator.compare(ordered[i], ordered[i + 1]), 0) << ordered[i] << " / " << ordered[i + 1];
}

TEST(TextCollator, OnlyCanonicallyEquivalentTextsCompareTheSame)
{
    TextCollator collator("");
    EXPECT_EQ(collator.compare("Ce\u0301line", "C\u00e9line"), 0);
    EXPECT_NE(collator.compare("ab", "a\u200bb"), 0);
    EXPECT_NE(collator.compare("ab", "AB"), 0);
    EXPECT_NE(collator.compare("\uff21", "A"), 0); // fullwidth A
}

TEST(TextCollator, FollowsTheLocale)
{
    EXPECT_LT(TextCollator("").compare("\u00f6", "z"), 0);
    EXPECT_GT(TextCollator("sv_SE").compare("\u00f6", "z"), 0);
}

TEST(TextCollator, ReadsTheLocaleFromTheEnvironment)
{
    struct Case {
        const char *all;
        const char *collate;
        const char *lang;
        const char *locale;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, ""},
        {nullptr, nullptr, "de_DE.UTF-8", "de_DE"},
        {nullptr, "sv_SE.UTF-8", "de_DE.UTF-8", "sv_SE"},
        {"fr_FR@euro", "sv_SE.UTF-8", "de_DE.UTF-8", "fr_FR"},
        {"C", "sv_SE", nullptr, ""},
        {"", "POSIX", "de_DE", ""},
    };
    auto set = [](const char *name, const char *value) {
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    };
    // Whatever this test sets, the tests after it see the locale the run started with.
    struct Saved {
        const char *name;
        std::optional<std::string> value;
    };
    std::vector<Saved> saved;
    for (const char *name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
        const char *value = std::getenv(name);
        saved.push_back({name, value ? std::optional<std::string>(value) : std::nullopt});
    }
    for (auto [all, collate, lang, locale] : cases) {
        set("LC_ALL", all);
        set("LC_COLLATE", collate);
        set("LANG", lang);
        EXPECT_EQ(TextCollator::localeFromEnvironment(), locale);
    }
    for (const auto &[name, value] : saved)
        set(name, value ? value->c_str() : nullptr);
}

TEST(InitialLetters, FileATextUnderItsFirstCharactersLetter)
{
    struct Case {
        const char *locale;
        const char *text;
        const char *initial;
    };
    const Case cases[] = {
        {"", "apple", "A"},
        {"", "Zebra", "Z"},
        {"", "\u00e9clair", "E"},  // composed
        {"", "e\u0301clair", "E"}, // decomposed
        {"", "\u00c5lborg", "A"},
        {"sv_SE", "\u00c5lborg", "\u00c5"}, // a letter of its own in Swedish
        {"sv_SE", "\u00e5lborg", "\u00c5"},
        {"sv_SE", "\u00e9clair", "E"},
        {"", "\u00dfx", "S"},            // full upper case: "SS"
        {"", "\u01c6emal", "D"},         // a digraph sorts as its letters
        {"", "\u00f8st", "O"},           // no decomposition, but an "o" to the collation
        {"da_DK", "\u00f8st", "\u00d8"}, // and a letter of its own in Danish
        {"", "\u00c6r\u00f8", "A"},      // "ae"
        {"", "\u0141\u00f3d\u017a", "L"},
        {"", "\u00fe\u00f3r", "\u00de"}, // a letter of its own everywhere
        {"", "\u03c9mega", "\u03a9"},    // Greek
        {"", "\u0451lka", "\u0415"},     // Cyrillic yo files under ye
        {"", "\ud55c\uad6d", "\u1112"},  // a Hangul syllable under its leading consonant
        {"", "\u3056\u308b", "\u3055"},  // a voiced kana under its plain one
        {"", "\u4e2d\u56fd", "\u4e2d"},  // a Han character is its own
        {"", "10 Years", "#"},
        {"", "\u0663", "#"}, // an Arabic-Indic digit
        {"", "(Don't)", "#"},
        {"", " Leading", "#"},
        {"", "\u00a1Hola!", "#"},
        {"", "\U0001F3B5 Notes", "#"},
        {"", "", "#"},
        {"", "\xff\xfe", "#"}, // not UTF-8
        {"", "\xc3", "#"},     // cut short
    };
    std::map<std::string, InitialLetters, std::less<>> byLocale;
    for (auto [locale, text, initial] : cases) {
        auto &letters = byLocale.try_emplace(locale, locale).first->second;
        EXPECT_EQ(letters.initialOf(text), initial) << locale << " " << text;
    }
}

} // namespace
} // namespace wheelbox::icu
