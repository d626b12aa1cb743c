#include "library/TextPool.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wheelbox {
namespace {

using namespace std::string_literals;

// Texts that differ only at their edges, by a NUL or by a prefix must stay apart, and the buffer
// grows many times on the way, which must not disturb the texts interned before.
TEST(TextPool, KeepsEveryDistinctTextOnceAndReadsItBackExactly)
{
    TextPool pool;
    EXPECT_EQ(pool.intern(""), 0U);
    std::vector<std::string> texts = {"a",    "ab",  "ab "s,      " ab"s,    "a\0b"s,
                                      "a\0"s, "\0"s, "Sigur Rós", "坂本龍一"};
    for (int i = 0; i < 5000; ++i)
        texts.push_back("Song " + std::to_string(i));
    std::vector<TextID> ids;
    for (const auto &text : texts)
        ids.push_back(pool.intern(text));
    EXPECT_EQ(pool.size(), texts.size() + 1);

    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(pool.text(ids[i]), texts[i]) << i;
        EXPECT_EQ(pool.intern(texts[i]), ids[i]) << texts[i];
    }
    EXPECT_EQ(pool.intern(""), 0U);
    EXPECT_EQ(pool.text(0), "");

    pool.seal();
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(pool.text(ids[i]), texts[i]) << i;
}

} // namespace
} // namespace wheelbox
