#include "transport/ScriptText.hpp"

#include <gtest/gtest.h>

namespace wheelbox {
namespace {

TEST(ScriptText, StringLiteralEscaping)
{
    struct Case {
        const char *text;
        const char *escaped;
    };
    const Case cases[] = {
        {"", ""},
        {"Plain – text ’", "Plain – text ’"},
        {R"(say "hi")", R"(say \"hi\")"},
        {R"(C:\Music)", R"(C:\\Music)"},
        // The backslash is doubled before the quote gains its own, never the other way round.
        {R"(\")", R"(\\\")"},
        {R"(" end tell)", R"(\" end tell)"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(escapeAppleScriptString(c.text), c.escaped) << c.text;
}

} // namespace
} // namespace wheelbox
