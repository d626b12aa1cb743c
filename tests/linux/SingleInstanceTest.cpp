// One running copy per user without a session bus: a later start brings the running copy forward,
// and a copy that crashed leaves nothing that stops the next one.
#include "linux/SingleInstance.hpp"
#include "linux/GLibMainLoop.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <sys/wait.h>
#include <unistd.h>

namespace wheelbox {
namespace {

using namespace std::chrono_literals;

class SingleInstanceTest : public testing::Test {
  protected:
    SingleInstanceTest() : context_(g_main_context_new()), loop_(context_)
    {
        g_main_context_unref(context_);
        std::string pattern = "/tmp/wb-instance.XXXXXX";
        root_ = ::mkdtemp(pattern.data());
    }
    ~SingleInstanceTest() override { std::filesystem::remove_all(root_); }

    std::filesystem::path state() const { return root_ / "state"; }
    std::filesystem::path runtime() const { return root_ / "run"; }

    // A later start, on another thread while this one runs the running copy's main loop.
    bool presentRunningCopy(std::chrono::milliseconds timeout, std::string &problem)
    {
        auto asked = std::async(std::launch::async, [&] {
            return SingleInstance::presentRunningCopy(state(), runtime(), timeout, problem);
        });
        while (asked.wait_for(0s) != std::future_status::ready)
            g_main_context_iteration(context_, FALSE);
        return asked.get();
    }

    GMainContext *context_;
    GLibMainLoop loop_;
    std::filesystem::path root_;
};

TEST_F(SingleInstanceTest, ALaterStartBringsTheRunningCopyForward)
{
    auto running = SingleInstance::claim(state(), runtime());
    ASSERT_TRUE(running);
    EXPECT_TRUE(running->isListening());
    EXPECT_FALSE(SingleInstance::claim(state(), runtime())) << "a second claim while the first holds";
    int presented = 0;
    running->listen(loop_, [&] { ++presented; });
    std::string problem;
    EXPECT_TRUE(presentRunningCopy(5s, problem)) << problem;
    EXPECT_EQ(presented, 1);
    EXPECT_TRUE(presentRunningCopy(5s, problem)) << problem;
    EXPECT_EQ(presented, 2);

    // Ended in order: the next copy claims at once.
    running.reset();
    EXPECT_FALSE(std::filesystem::exists(runtime() / SingleInstance::socketName));
    EXPECT_TRUE(SingleInstance::claim(state(), runtime()));
}

TEST_F(SingleInstanceTest, ACopyThatCrashedLeavesNothingInTheWay)
{
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    // A running copy that never answers (its main loop never runs), then dies without a clean-up.
    pid_t copy = ::fork();
    if (copy == 0) {
        auto claimed = SingleInstance::claim(state(), runtime());
        (void)!::write(ready[1], claimed ? "y" : "n", 1);
        ::pause();
        ::_exit(0);
    }
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'y');
    EXPECT_FALSE(SingleInstance::claim(state(), runtime()));

    std::string problem;
    EXPECT_FALSE(presentRunningCopy(300ms, problem));
    EXPECT_EQ(problem, "Wheelbox is already running (process " + std::to_string(copy) +
                           ") and did not come to the front; this start opens no second device.");
    // What the lock file holds reaches the line only as a process number.
    std::ofstream(state() / SingleInstance::lockName) << "12; rm -rf ~\n\x1b[2J";
    EXPECT_FALSE(presentRunningCopy(100ms, problem));
    EXPECT_EQ(problem,
              "Wheelbox is already running and did not come to the front; this start opens no second "
              "device.");

    ::kill(copy, SIGKILL);
    ::waitpid(copy, nullptr, 0);
    EXPECT_TRUE(std::filesystem::exists(runtime() / SingleInstance::socketName)) << "left behind";
    auto next = SingleInstance::claim(state(), runtime());
    ASSERT_TRUE(next);
    int presented = 0;
    next->listen(loop_, [&] { ++presented; });
    EXPECT_TRUE(presentRunningCopy(5s, problem)) << problem;
    EXPECT_EQ(presented, 1);
}

} // namespace
} // namespace wheelbox
