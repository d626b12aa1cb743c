#include "library/PathToken.hpp"
#include "library/ManagedQueueName.hpp"

#include <gtest/gtest.h>

namespace wheelbox {
namespace {

TEST(PathToken, EncodesURLSafeWithoutPaddingAndRoundTrips)
{
    struct Case {
        std::string name;
        std::string token;
    };
    const Case cases[] = {
        {"", ""},
        {"A", "QQ"},
        {"Ab", "QWI"},
        {"Abc", "QWJj"},
        {"Rock", "Um9jaw"},
        {"\xfb\xff", "-_8"}, // bytes that give '+' and '/' in standard Base64 (not UTF-8: encode only)
        {"Sigur Rós", "U2lndXIgUsOzcw"},
        {"AC/DC", "QUMvREM"},
        {"坂本龍一", "5Z2C5pys6b6N5LiA"},
    };
    for (const auto &[name, token] : cases) {
        EXPECT_EQ(encodePathToken(name), token) << name;
        if (name != "\xfb\xff") {
            EXPECT_EQ(decodePathToken(token), name) << token;
        }
    }
}

TEST(PathToken, DecodingIsStrict)
{
    const char *rejected[] = {
        "Um9jaw==", // padding is never written
        "Um9ja+",   // standard alphabet
        "Um9ja/",   //
        "Um9 j",    // white space
        "U",        // a lone character holds no byte
        "QR",       // stray bits after the last byte
        "-_8",      // decodes, but to invalid UTF-8
        "7aCA",     // an encoded UTF-16 surrogate
        "wIA",      // an overlong encoding
    };
    for (const char *token : rejected)
        EXPECT_FALSE(decodePathToken(token)) << token;
}

TEST(ManagedQueueName, RecognisesBothPrefixesUpToFortyCharacters)
{
    struct Case {
        std::string name;
        bool managed;
    };
    const Case cases[] = {
        {"Wheelbox Queue • 1A2B3C4D", true},
        {"velto Queue • 1A2B3C4D", true},
        {"Wheelbox Queue • ", true},
        {"Wheelbox Queue •1A2B3C4D", false},
        {"wheelbox queue • 1A2B3C4D", false},
        {"My Wheelbox Queue • 1A2B3C4D", false},
        {"Wheelbox Queue • " + std::string(23, 'x'), true},
        {"Wheelbox Queue • " + std::string(24, 'x'), false},
        // Forty user-perceived characters, though many more bytes and code points.
        {"Wheelbox Queue • " +
             [] {
                 std::string s;
                 for (int i = 0; i < 23; ++i)
                     s += "e\u0301";
                 return s;
             }(),
         true},
    };
    for (const auto &[name, managed] : cases)
        EXPECT_EQ(isManagedQueueName(name), managed) << name;
}

} // namespace
} // namespace wheelbox
