// How the built tool ends when something outside the language goes wrong: it always reports an
// execution error the runner can read, and says why on standard error.

#include "ScriptFixtures.hpp"
#include "ToolProcess.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

namespace wheelbox::osascript {
namespace {

using ::testing::HasSubstr;

TEST(osascriptToolTest, ASpotifyModuleThatCannotLoadSaysWhy)
{
    // A copy of the tool without its module beside it.
    auto folder =
        std::filesystem::temp_directory_path() / ("wheelbox-lonely-tool-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    auto copy = folder / "wheelbox-osascript";
    std::filesystem::copy_file(WHEELBOX_OSASCRIPT_PATH, copy,
                               std::filesystem::copy_options::overwrite_existing);

    auto ran = test::runTool(test::wrapInTimeout("tell application \"Spotify\" to return player state", 2),
                             {}, {copy.string(), {}});
    std::filesystem::remove_all(folder);

    EXPECT_EQ(ran.exitStatus, 1);
    EXPECT_THAT(ran.error, HasSubstr("the Spotify module cannot be loaded: "));
    EXPECT_THAT(ran.error, HasSubstr("wheelbox-osascript-spotify.so"));
    EXPECT_THAT(ran.error,
                HasSubstr("execution error: Spotify got an error: Application isn’t running. (-600)"));
}

TEST(osascriptToolTest, RunningOutOfMemoryIsAnExecutionErrorNotACrash)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer reserves more address space than the limit allows";
#endif
    // Doubles a text until it is far beyond the 256 MiB the tool may use.
    auto program =
        test::wrapInTimeout("set s to \"0123456789abcdef\"\nrepeat 26 times\n  set s to s & s\nend repeat\n"
                            "return count of s",
                            10);
    auto ran = test::runTool(program, {}, {{}, [](pid_t pid) {
                                               rlimit limit{256 << 20, 256 << 20};
                                               ASSERT_EQ(::prlimit(pid, RLIMIT_AS, &limit, nullptr), 0);
                                           }});
    EXPECT_EQ(ran.exitStatus, 1);
    EXPECT_THAT(ran.error, HasSubstr("execution error: Out of memory. (-2700)"));
}

// Values nested far deeper than any stack: built in a loop, replaced, and freed at the end.
TEST(osascriptToolTest, DeeplyNestedValuesEndWithoutExhaustingTheStack)
{
    auto ran = test::runTool(test::wrapInTimeout("set L to {}\nset R to {a:1}\nrepeat 200000 times\n"
                                                 "  set L to {L}\n  set R to {a:R, b:{R}}\nend repeat\n"
                                                 "set L to 0\nreturn count of R",
                                                 30));
    EXPECT_EQ(ran.exitStatus, 0) << ran.error;
    EXPECT_EQ(ran.output, "2\n");
}

} // namespace
} // namespace wheelbox::osascript
