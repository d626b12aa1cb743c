#include "lib/icu/TextCollator.hpp"
#include "lib/icu/Unicode.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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

} // namespace
} // namespace wheelbox::icu
