#include "transport/AppleScript.hpp"

#include "platform/AutomationTool.hpp"
#include "support/Processes.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace wheelbox {

void PrintTo(ScriptError::Kind kind, std::ostream *out)
{
    constexpr const char *names[] = {"cancelled", "timedOut", "failed"};
    *out << names[static_cast<int>(kind)];
}

namespace AppleScript {
namespace {

using namespace std::chrono_literals;
using Kind = ScriptError::Kind;

constexpr const char *genericFailure = "The music player couldn’t complete the request.";

using test::childProcesses;

// Runs `body` on its own thread, so that the test thread can cancel it while it blocks.
template <typename Body> auto onAnotherThread(Body body)
{
    return std::async(std::launch::async, std::move(body));
}

template <typename Predicate> bool eventually(Predicate predicate)
{
    for (auto give_up = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < give_up;) {
        if (predicate())
            return true;
        std::this_thread::sleep_for(2ms);
    }
    return predicate();
}

ScriptError::Kind kindOf(const std::function<void()> &body, std::string *details = nullptr)
{
    try {
        body();
    } catch (const ScriptError &error) {
        if (details)
            *details = error.details();
        return error.kind();
    }
    ADD_FAILURE() << "no ScriptError";
    return Kind::failed;
}

// Every test runs its scripts through the fake tool and must leave no registered script and no
// child process, running or zombie, behind, whichever way its scripts ended.
class ScriptRunnerTest : public testing::Test {
  protected:
    void SetUp() override
    {
        overrideAutomationToolPath(WHEELBOX_FAKE_SCRIPT_TOOL);
        char pattern[] = "/tmp/wheelbox-runner.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }

    void TearDown() override
    {
        overrideAutomationToolPath(std::nullopt);
        EXPECT_EQ(registeredScriptCount(), 0u);
        EXPECT_THAT(childProcesses(), testing::IsEmpty());
        std::filesystem::remove_all(folder_);
    }

    std::string path(const std::string &name) const { return (folder_ / name).string(); }
    bool exists(const std::string &name) const { return std::filesystem::exists(folder_ / name); }
    void create(const std::string &name) const { std::ofstream(folder_ / name).put('\n'); }

    std::filesystem::path folder_;
};

TEST_F(ScriptRunnerTest, OutputLosesOnlyItsTrailingLineBreaks)
{
    struct Case {
        const char *script;
        std::optional<std::string> output;
    };
    const Case cases[] = {
        {"out false\\n", "false"},
        {"out \\n\\n\\r\\n", std::nullopt},
        {"exit 0", std::nullopt},
        {"out kept \\n", "kept "},
        {"out  leading\\r\\n", " leading"},
        {"out one\\n\\ntwo\\n", "one\n\ntwo"},
        {"out caf\\xc3\\xa9\\n", "café"},
        {"out \\xff\\xfe\\n", std::nullopt},   // not UTF-8
        {"out \\xed\\xa0\\x80", std::nullopt}, // an encoded surrogate is not UTF-8 either
    };
    for (const Case &c : cases)
        EXPECT_EQ(run(c.script, 2), c.output) << c.script;
}

TEST_F(ScriptRunnerTest, ToolReceivesTheScriptInsideItsTimeoutBlock)
{
    std::string script = "echo\nsay \"quoted\" ’text’\n  indented";
    EXPECT_EQ(run(script, 0),
              "with timeout of 1 seconds\n  echo\nsay \"quoted\" ’text’\n  indented\nend timeout");
}

TEST_F(ScriptRunnerTest, ToolGetsOnlyItsThreeStandardDescriptors)
{
    // Not even a descriptor that the program lets every child inherit: a stray pipe end in one tool
    // could keep another run's pipe from closing.
    int inheritable = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(inheritable, 0);
    EXPECT_EQ(run("fds", 2), "0 1 2");
    ::close(inheritable);
}

TEST_F(ScriptRunnerTest, TimeoutBlockText)
{
    struct Case {
        const char *script;
        int timeout;
        const char *text;
    };
    const Case cases[] = {
        {"tell application \"Music\" to pause", 8,
         "with timeout of 8 seconds\n  tell application \"Music\" to pause\nend timeout"},
        {"a\nb\n", 0, "with timeout of 1 seconds\n  a\nb\n\nend timeout"},
        {"x", -5, "with timeout of 1 seconds\n  x\nend timeout"},
        {"", 45, "with timeout of 45 seconds\n  \nend timeout"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(timeoutWrapped(c.script, c.timeout), c.text) << c.script;
}

TEST_F(ScriptRunnerTest, FailedScriptReportsItsCleanedStandardError)
{
    struct Case {
        const char *script;
        const char *details;
    };
    const Case cases[] = {
        {"err 0:42: execution error: Song is not in the Music library. (-2700)\\n\nexit 1",
         "Song is not in the Music library."},
        {"err 3:9: execution error: Music got an error: Can’t get current track. (-1728)\\n\nexit 1",
         "Music got an error: Can’t get current track."},
        {"err  \\n\\t \\n\nexit 1", genericFailure},
        {"err \\xff\\xfe (12)\nexit 1", genericFailure}, // undecodable counts as empty
        {"exit 3", genericFailure},
        {"out partial answer\\n\nerr 1:2: execution error: Late. (-1)\nexit 2", "Late."},
    };
    for (const Case &c : cases) {
        std::string details;
        EXPECT_EQ(kindOf([&] { run(c.script, 2); }, &details), Kind::failed) << c.script;
        EXPECT_EQ(details, c.details) << c.script;
    }
}

TEST_F(ScriptRunnerTest, ErrorTextCleaning)
{
    struct Case {
        const char *text;
        const char *cleaned;
    };
    const Case cases[] = {
        {"", genericFailure},
        {" \n\t\r ", genericFailure},
        {"0:10: execution error: Nope (42)  \n", "Nope"},
        {"execution error: Nope\t(-1)", "Nope"},
        {"execution error: Nope\u00A0(7)", "Nope"}, // a no-break space is white space
        {"execution error: Nope\u2003(7)\u2028", "Nope"},
        {"execution error: (-2700)", "(-2700)"}, // no white space before the number: kept
        {"(-1728)", "(-1728)"},
        {"execution error: Nope (12) left", "Nope (12) left"},
        {"execution error: Nope (twelve)", "Nope (twelve)"},
        {"execution error: Nope (-)", "Nope (-)"},
        {"execution error: Nope (--1)", "Nope (--1)"},
        {"execution error: Nope (1) (2)", "Nope (1)"},
        {"execution error: \n (5)\n", "(5)"},
        {"1:2: execution error: first execution error: second (3)", "first execution error: second"},
        {"syntax error: Expected end of line. (-2741)", "syntax error: Expected end of line."},
        {"Execution Error: Case matters (1)", "Execution Error: Case matters"},
        {"execution error: Just spaces    ", "Just spaces"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(cleanErrorMessage(c.text), c.cleaned) << c.text;
}

// The deadlines hold on both sides: never before the script's own timeout, and never much after.
struct DeadlineCase {
    const char *script;
    std::chrono::milliseconds atLeast;
    std::chrono::milliseconds atMost;
};

const DeadlineCase deadlineCases[] = {
    // A timeout of 0 counts as 1, and the deadline is one second later.
    {"out started\\n\nsleep 60", 2000ms, 3500ms},
    // A script that ignores termination is killed a second after that.
    {"ignore-term\nsleep 60", 3000ms, 4500ms},
    // Output without end neither holds the deadline off nor fills the memory.
    {"flood", 2000ms, 3500ms},
};

TEST_F(ScriptRunnerTest, HardDeadlineEndsAScriptThatOverruns)
{
    for (const DeadlineCase &c : deadlineCases) {
        auto began = std::chrono::steady_clock::now();
        std::string details;
        EXPECT_EQ(kindOf([&] { run(c.script, 0); }, &details), Kind::timedOut) << c.script;
        EXPECT_EQ(details, "The music player took too long to respond.");
        auto took = std::chrono::steady_clock::now() - began;
        EXPECT_GE(took, c.atLeast) << c.script;
        EXPECT_LE(took, c.atMost) << c.script;
        EXPECT_THAT(childProcesses(), testing::IsEmpty()) << c.script;
    }
}

TEST_F(ScriptRunnerTest, StartedScriptEndsAtTheSameHardDeadline)
{
    for (const DeadlineCase &c : deadlineCases) {
        auto began = std::chrono::steady_clock::now();
        RunningScript script = start(c.script, 0);
        ASSERT_TRUE(eventually([&] { return script.hasEnded(); })) << c.script;
        auto took = std::chrono::steady_clock::now() - began;
        EXPECT_GE(took, c.atLeast) << c.script;
        EXPECT_LE(took, c.atMost) << c.script;
        EXPECT_EQ(registeredScriptCount(), 0u);
        EXPECT_THAT(childProcesses(), testing::IsEmpty()) << c.script;
    }
}

// An answer cut at the limit would read as another answer.
TEST_F(ScriptRunnerTest, AnswerBeyondTheOutputLimitFails)
{
    std::string details;
    EXPECT_EQ(kindOf([&] { run("big-out 16777000\nbig-out 60000", 10); }, &details), Kind::failed);
    EXPECT_EQ(details, genericFailure);
}

// Without a pidfd (here: no descriptor is left for one once a run's pipes are open) children are
// still waited for, held to the deadline and reaped.
TEST_F(ScriptRunnerTest, ChildrenAreWatchedWithoutPidfds)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' own checks need descriptors this test leaves none of";
#endif
    // A run opens eight descriptors for its pipes before it asks for the pidfd.
    int freeSlots = 0;
    int limit = 0;
    for (int fd = 0; freeSlots < 8; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0) {
            ++freeSlots;
            limit = fd + 1;
        }
    }
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &previous), 0);
    rlimit lowered = previous;
    lowered.rlim_cur = static_cast<rlim_t>(limit);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);

    std::optional<std::string> answered;
    std::string details;
    Kind overran = Kind::failed;
    auto began = std::chrono::steady_clock::now();
    try {
        answered = run("out watched", 2);
        overran = kindOf([&] { run("ignore-term\nsleep 60", 0); }, &details);
    } catch (...) {
    }
    auto took = std::chrono::steady_clock::now() - began;
    ::setrlimit(RLIMIT_NOFILE, &previous);

    EXPECT_EQ(answered, "watched");
    EXPECT_EQ(overran, Kind::timedOut) << details;
    EXPECT_GE(took, 3s);
    EXPECT_LE(took, 5s);
}

TEST_F(ScriptRunnerTest, ToolStartsWithTheEnvironmentTheAppGaveIt)
{
    captureAutomationToolEnvironment();
    // Changed in the process after the capture: a tool must not see it.
    ::setenv("WHEELBOX_RUNNER_LATE", "late", 1);
    setAutomationToolVariable("WHEELBOX_RUNNER_MPD_HOST", "/run/wheelbox/mpd socket");
    setAutomationToolVariable("WHEELBOX_RUNNER_MPD_HOST", "/run/wheelbox/mpd=socket");
    EXPECT_EQ(run("env WHEELBOX_RUNNER_MPD_HOST", 2), "/run/wheelbox/mpd=socket");
    EXPECT_EQ(run("env WHEELBOX_RUNNER_LATE", 2), "(unset)");
    EXPECT_EQ(run("env PATH", 2), std::getenv("PATH"));
    ::unsetenv("WHEELBOX_RUNNER_LATE");

    using namespace std::string_view_literals;
    for (auto [name, value] :
         {std::pair{""sv, "x"sv}, {"A=B"sv, "x"sv}, {"A\0B"sv, "x"sv}, {"A"sv, "x\0y"sv}})
        EXPECT_THROW(setAutomationToolVariable(name, value), std::invalid_argument) << name;
}

TEST_F(ScriptRunnerTest, CancellationKillsOnlyTheScriptsItMakesStale)
{
    enum class Operation { polling, request, all };
    struct Case {
        bool polling;
        Operation operation;
        bool survives;
    };
    const Case cases[] = {
        {false, Operation::request, false}, {false, Operation::polling, true}, {false, Operation::all, false},
        {true, Operation::polling, false},  {true, Operation::request, true},  {true, Operation::all, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "polling " << c.polling << ", operation " << int(c.operation));
        std::filesystem::remove(path("running"));
        std::filesystem::remove(path("go"));
        // The killed process complains on standard error; a cancelled run must not pass that on.
        std::string script = "err 0:5: execution error: User canceled. (-128)\\n\ntouch " + path("running") +
                             "\nawait " + path("go") + "\nout survived";
        auto result = onAnotherThread([&] {
            std::optional<PollTagScope> tag;
            if (c.polling)
                tag.emplace(currentPollGeneration());
            return run(script, 30);
        });
        ASSERT_TRUE(eventually([&] { return exists("running"); }));
        ASSERT_EQ(registeredScriptCount(), 1u);
        if (c.operation == Operation::polling)
            cancelPollingScripts();
        else if (c.operation == Operation::request)
            cancelRequestScripts();
        else
            cancelAllScripts();
        create("go");
        if (c.survives) {
            EXPECT_EQ(result.get(), "survived");
        } else {
            std::string details;
            EXPECT_EQ(kindOf([&] { result.get(); }, &details), Kind::cancelled);
            EXPECT_EQ(details, "The macOS automation was cancelled.");
        }
    }
}

TEST_F(ScriptRunnerTest, StalePollingScriptIsRefusedBeforeItRuns)
{
    PollTagScope tag(currentPollGeneration());
    cancelPollingScripts();
    std::string script = "touch " + path("ran");
    EXPECT_EQ(kindOf([&] { run(script, 5); }), Kind::cancelled);
    EXPECT_EQ(kindOf([&] { start(script, 5); }), Kind::cancelled);
    EXPECT_FALSE(exists("ran"));

    // The same thread under the current generation runs again.
    PollTagScope current(currentPollGeneration());
    EXPECT_EQ(run("out fresh", 5), "fresh");
}

TEST_F(ScriptRunnerTest, PollTagBelongsToItsScopeAndThread)
{
    EXPECT_EQ(cancellationSnapshot().pollTag, std::nullopt);
    {
        PollTagScope outer(7);
        {
            PollTagScope inner(9);
            EXPECT_EQ(cancellationSnapshot().pollTag, 9u);
            EXPECT_EQ(onAnotherThread([] { return cancellationSnapshot().pollTag; }).get(), std::nullopt);
        }
        EXPECT_EQ(cancellationSnapshot().pollTag, 7u);
    }
    EXPECT_EQ(cancellationSnapshot().pollTag, std::nullopt);

    std::uint64_t requests = cancellationSnapshot().requestGeneration;
    std::uint64_t polls = currentPollGeneration();
    cancelRequestScripts();
    cancelPollingScripts();
    cancelAllScripts();
    EXPECT_EQ(cancellationSnapshot().requestGeneration, requests + 2);
    EXPECT_EQ(currentPollGeneration(), polls + 2);
}

TEST_F(ScriptRunnerTest, StartedScriptRunsUntilStopped)
{
    struct Case {
        const char *setup;
        std::chrono::milliseconds grace;
    };
    const Case cases[] = {
        {"", 1000ms}, {"ignore-term\n", 100ms}, // ends only by the kill that follows the grace
    };
    for (const Case &c : cases) {
        std::filesystem::remove(path("running"));
        RunningScript script = start(std::string(c.setup) + "touch " + path("running") + "\nsleep 60", 95);
        ASSERT_TRUE(eventually([&] { return exists("running"); }));
        EXPECT_EQ(registeredScriptCount(), 1u);
        EXPECT_FALSE(script.hasEnded());
        EXPECT_TRUE(script.stop(c.grace)) << c.setup;
        EXPECT_TRUE(script.hasEnded());
        EXPECT_EQ(registeredScriptCount(), 0u);
        EXPECT_TRUE(script.stop(c.grace)); // stopping again is harmless
    }
}

TEST_F(ScriptRunnerTest, StartedScriptUnregistersWhenItEnds)
{
    RunningScript ending = start("sleep 0.05", 5);
    EXPECT_TRUE(eventually([&] { return ending.hasEnded(); }));
    EXPECT_EQ(registeredScriptCount(), 0u);

    RunningScript cancelled = start("touch " + path("running") + "\nsleep 60", 95);
    ASSERT_TRUE(eventually([&] { return exists("running"); }));
    cancelRequestScripts();
    EXPECT_TRUE(eventually([&] { return cancelled.hasEnded(); }));
    EXPECT_EQ(registeredScriptCount(), 0u);
}

TEST_F(ScriptRunnerTest, ToolThatCannotBeStarted)
{
    create("not-executable");
    for (std::string tool : {path("missing"), path("not-executable"), folder_.string()}) {
        overrideAutomationToolPath(tool);
        std::string details;
        EXPECT_EQ(kindOf([&] { run("out x", 2); }, &details), Kind::failed) << tool;
        EXPECT_EQ(details, "Couldn’t start macOS automation.");
        EXPECT_EQ(kindOf([&] { start("out x", 2); }, &details), Kind::failed) << tool;
        EXPECT_EQ(details, "Couldn’t start macOS automation.");
    }
}

TEST_F(ScriptRunnerTest, ToolThatEndsWithoutReadingItsScript)
{
    // More than a pipe holds, so the write must meet the closed pipe; SIGPIPE must not end the test.
    overrideAutomationToolPath("/bin/true");
    std::string script(1 << 20, 'x');
    std::string details;
    EXPECT_EQ(kindOf([&] { run(script, 5); }, &details), Kind::failed);
    EXPECT_EQ(details, "Couldn’t send macOS automation.");
    // A started script may also be found to have ended before its script was sent.
    EXPECT_EQ(kindOf([&] { start(script, 5); }, &details), Kind::failed);
    EXPECT_THAT(details,
                testing::AnyOf("Couldn’t send macOS automation.", "The music player ended the request."));
}

// A tool that stops reading its script is cancelled while the runner still writes: the script
// never arrived, and the caller hears that, not that the run was cancelled.
TEST_F(ScriptRunnerTest, AScriptCutOffWhileItIsSentCouldNotBeSent)
{
    auto tool = folder_ / "stops-reading";
    std::ofstream(tool) << "#!/bin/sh\ntouch " << path("running") << "\nexec sleep 60\n";
    std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
    overrideAutomationToolPath(tool.string());
    // More than a pipe holds, so the write waits for a reader that never comes.
    std::string script(1 << 20, 'x');
    for (bool started : {false, true}) {
        SCOPED_TRACE(started ? "start" : "run");
        std::filesystem::remove(path("running"));
        auto result = onAnotherThread([&] {
            if (started)
                start(script, 30);
            else
                run(script, 30);
        });
        // Registered, so the cancellation kills it rather than refusing it before it runs.
        ASSERT_TRUE(eventually([&] { return exists("running") && registeredScriptCount() == 1; }));
        cancelRequestScripts();
        std::string details;
        EXPECT_EQ(kindOf([&] { result.get(); }, &details), Kind::failed);
        EXPECT_EQ(details, "Couldn’t send macOS automation.");
    }
}

TEST_F(ScriptRunnerTest, AnswerLargerThanAPipeHolds)
{
    std::optional<std::string> output = run("big-out 1048576", 5);
    ASSERT_TRUE(output);
    EXPECT_EQ(output->size(), 1048576u);
}

TEST_F(ScriptRunnerTest, BackgroundProcessLeftByTheToolDoesNotHoldTheRun)
{
    // The orphan keeps the output pipes open far beyond the deadline; the run ends with the tool.
    std::optional<std::string> output = run("orphan 60\nout done", 1);
    ASSERT_TRUE(output);
    EXPECT_THAT(*output, testing::MatchesRegex("orphan [0-9]+\ndone"));
    ::kill(std::stoi(output->substr(7)), SIGKILL);
}

TEST_F(ScriptRunnerTest, ProcessLeftInTheToolsGroupEndsWithTheTool)
{
    // A shell's "cmd &" stays in the tool's group; one that starts a session of its own is its own.
    std::optional<std::string> output = run("child 60\nout done", 5);
    ASSERT_TRUE(output);
    ASSERT_THAT(*output, testing::MatchesRegex("child [0-9]+\ndone"));
    pid_t child = std::stoi(output->substr(6));
    auto ended = [child] {
        // Gone, or a zombie waiting for whoever inherited it.
        auto stat = test::processStat(child);
        return !stat || stat->state == 'Z';
    };
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!ended() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(ended());
    if (!ended())
        ::kill(child, SIGKILL);
}

TEST_F(ScriptRunnerTest, ConcurrentRunsAndCancellations)
{
    std::atomic<bool> running = true;
    std::thread canceller([&] {
        for (int i = 0; running; ++i) {
            if (i % 3 == 0)
                cancelPollingScripts();
            else if (i % 3 == 1)
                cancelRequestScripts();
            else
                cancelAllScripts();
            std::this_thread::sleep_for(3ms);
        }
    });
    std::vector<std::future<void>> workers;
    for (int worker = 0; worker < 4; ++worker) {
        workers.push_back(onAnotherThread([worker] {
            for (int i = 0; i < 12; ++i) {
                std::optional<PollTagScope> tag;
                if ((worker + i) % 2)
                    tag.emplace(currentPollGeneration());
                try {
                    EXPECT_EQ(run("sleep 0.002\nout ok", 5), "ok");
                } catch (const ScriptError &error) {
                    // Killed while it ran, or while its script was still being written to it (as
                    // AScriptCutOffWhileItIsSentCouldNotBeSent shows on purpose).
                    if (error.kind() != Kind::cancelled) {
                        EXPECT_EQ(error.details(), "Couldn’t send macOS automation.");
                    }
                }
            }
        }));
    }
    for (auto &worker : workers)
        worker.get();
    running = false;
    canceller.join();
}

} // namespace
} // namespace AppleScript
} // namespace wheelbox
