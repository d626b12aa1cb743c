// The runner and the text helpers against the platform's own script tool, as the transports will
// use them. Plain AppleScript only: no player is needed.
#include "lib/text/ScriptNumber.hpp"
#include "platform/AutomationTool.hpp"
#include "transport/AppleScript.hpp"
#include "transport/ScriptText.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace wheelbox {
namespace {

class ScriptToolTest : public testing::Test {
  protected:
    void SetUp() override
    {
        if (::access(automationToolPath().c_str(), X_OK) != 0)
            GTEST_SKIP() << "no script tool at " << automationToolPath();
    }
};

// A program run where it was built uses the tool built with it, by an absolute path: a relative one
// would be looked up wherever the program happens to run.
TEST_F(ScriptToolTest, TheToolIsTheOneBuiltBesideThisProgram)
{
    auto tool = automationToolPath();
    EXPECT_TRUE(tool.is_absolute()) << tool;
    EXPECT_EQ(tool.filename(), "wheelbox-osascript");
    EXPECT_EQ(tool.parent_path().filename(), "osascript");
}

TEST_F(ScriptToolTest, ErrorRaisedByTheScriptReachesTheCallerInItsOwnWords)
{
    struct Case {
        const char *script;
        const char *details;
    };
    const Case cases[] = {
        {R"(error "Song is not in the Music library.")", "Song is not in the Music library."},
        {R"(error "Couldn’t find the queue." number 1001)", "Couldn’t find the queue."},
    };
    for (const Case &c : cases) {
        try {
            AppleScript::run(c.script, 2);
            ADD_FAILURE() << c.script;
        } catch (const ScriptError &error) {
            EXPECT_EQ(error.kind(), ScriptError::Kind::failed) << c.script;
            EXPECT_EQ(error.details(), c.details) << c.script;
        }
    }
}

TEST_F(ScriptToolTest, EscapedTextComesBackUnchanged)
{
    for (std::string text : {R"(plain)", R"(say "hi")", R"(C:\Music\)", R"(\")", "’quoted’ – \\\"\\\\"}) {
        std::string script = "return \"" + escapeAppleScriptString(text) + "\"";
        EXPECT_EQ(AppleScript::run(script, 2), text) << script;
    }
}

TEST_F(ScriptToolTest, NumbersAreReadAsTheSameReal)
{
    for (double value : {42.0, 0.49, -3.0, 1e21, 1.5e-7}) {
        std::optional<std::string> output = AppleScript::run("return " + formatScriptNumber(value), 2);
        ASSERT_TRUE(output) << value;
        EXPECT_EQ(std::strtod(output->c_str(), nullptr), value) << *output;
    }
}

} // namespace
} // namespace wheelbox
