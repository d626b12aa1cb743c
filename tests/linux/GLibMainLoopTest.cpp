#include "linux/GLibMainLoop.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace wheelbox {
namespace {

// Each test runs a loop on a context of its own, never the global default one.
class GLibMainLoopTest : public ::testing::Test {
  protected:
    glib::MainContextPtr context{g_main_context_new()};
};

TEST_F(GLibMainLoopTest, PostedTasksRunInOrderOnTheMainThreadAlsoWhenPostedFromThere)
{
    GLibMainLoop loop(context.get());
    std::vector<int> order;
    std::atomic<bool> otherThreadSawMain{true};
    loop.post([&] {
        order.push_back(1);
        // Posted from inside a task: runs after every task posted before it, not at once.
        loop.post([&] {
            order.push_back(3);
            loop.quit();
        });
    });
    loop.post([&] { order.push_back(2); });
    std::thread other([&] {
        otherThreadSawMain = loop.isMainThread();
        loop.post([&] { order.push_back(4); });
    });
    other.join();
    loop.run();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 4, 3}));
    EXPECT_FALSE(otherThreadSawMain.load());
    EXPECT_TRUE(loop.isMainThread());
}

TEST_F(GLibMainLoopTest, TimersFireOnceOrRepeatAndStopWhenCancelledOrDestroyed)
{
    GLibMainLoop loop(context.get());
    int once = 0, repeating = 0, cancelled = 0;
    auto onceTimer = loop.schedule(std::chrono::milliseconds(5), MainLoop::Repeat::once, [&] { ++once; });
    std::unique_ptr<MainLoop::Timer> repeatingTimer;
    repeatingTimer = loop.schedule(std::chrono::milliseconds(5), MainLoop::Repeat::repeating, [&] {
        if (++repeating == 3)
            repeatingTimer.reset(); // a timer may end itself from its own callback
    });
    auto cancelledTimer =
        loop.schedule(std::chrono::milliseconds(5), MainLoop::Repeat::repeating, [&] { ++cancelled; });
    cancelledTimer->cancel();
    auto end = loop.schedule(std::chrono::milliseconds(100), MainLoop::Repeat::once, [&] { loop.quit(); });
    loop.run();
    EXPECT_EQ(once, 1);
    EXPECT_EQ(repeating, 3);
    EXPECT_EQ(cancelled, 0);
}

TEST_F(GLibMainLoopTest, TasksPostedFromManyThreadsWhileItRunsAllRunInEachThreadsOrder)
{
    GLibMainLoop loop(context.get());
    constexpr int threads = 4, tasksPerThread = 2000;
    std::vector<std::vector<int>> seen(threads);
    int ran = 0;
    std::vector<std::thread> posters;
    loop.post([&] {
        for (int thread = 0; thread < threads; ++thread)
            posters.emplace_back([&, thread] {
                for (int i = 0; i < tasksPerThread; ++i)
                    loop.post([&, thread, i] {
                        seen[thread].push_back(i);
                        if (++ran == threads * tasksPerThread)
                            loop.quit();
                    });
            });
    });
    auto deadline = loop.schedule(std::chrono::seconds(20), MainLoop::Repeat::once, [&] { loop.quit(); });
    loop.run();
    for (auto &poster : posters)
        poster.join();
    ASSERT_EQ(ran, threads * tasksPerThread);
    for (const auto &order : seen)
        EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST_F(GLibMainLoopTest, ATimerCancelledByAnotherTimerDueAtTheSameTimeNeverFires)
{
    GLibMainLoop loop(context.get());
    int fired = 0;
    std::unique_ptr<MainLoop::Timer> second;
    auto first = loop.schedule(std::chrono::milliseconds(5), MainLoop::Repeat::once, [&] { second.reset(); });
    second = loop.schedule(std::chrono::milliseconds(5), MainLoop::Repeat::repeating, [&] { ++fired; });
    auto end = loop.schedule(std::chrono::milliseconds(50), MainLoop::Repeat::once, [&] { loop.quit(); });
    loop.run();
    EXPECT_EQ(fired, 0);
}

TEST_F(GLibMainLoopTest, TasksPostedToALoopThatIsGoneNeverRun)
{
    bool ran = false;
    {
        GLibMainLoop loop(context.get());
        loop.post([&] { ran = true; });
    }
    while (g_main_context_iteration(context.get(), FALSE)) {
    }
    EXPECT_FALSE(ran);
}

} // namespace
} // namespace wheelbox
