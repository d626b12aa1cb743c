#include "platform/SerialQueue.hpp"
#include "platform/UserDefaults.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace wheelbox {
namespace {

TEST(SerialQueue, RunsTasksOneAtATimeInSubmissionOrderFromManyThreads)
{
    std::vector<int> seen;
    std::atomic<int> running{0};
    bool overlapped = false;
    {
        SerialQueue queue("com.velto.test-queue");
        std::vector<std::thread> submitters;
        for (int thread = 0; thread < 4; ++thread) {
            submitters.emplace_back([&, thread] {
                for (int i = 0; i < 250; ++i)
                    queue.submit([&, value = thread * 1000 + i] {
                        if (running.fetch_add(1) != 0)
                            overlapped = true;
                        seen.push_back(value);
                        running.fetch_sub(1);
                    });
            });
        }
        for (auto &submitter : submitters)
            submitter.join();
    } // the destructor runs everything already submitted
    ASSERT_EQ(seen.size(), 1000u);
    EXPECT_FALSE(overlapped);
    // Each submitter's own tasks keep their order.
    std::vector<int> last(4, -1);
    for (int value : seen) {
        EXPECT_GT(value % 1000, last[value / 1000]);
        last[value / 1000] = value % 1000;
    }
}

TEST(SerialQueue, SubmitAndWaitReturnsAfterTheTaskAndEarlierOnesRan)
{
    SerialQueue queue("com.velto.media-worker");
    std::atomic<int> done{0};
    queue.submit([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ++done;
    });
    bool wasCurrent = false;
    queue.submitAndWait([&] {
        wasCurrent = queue.isCurrent();
        ++done;
    });
    EXPECT_EQ(done.load(), 2);
    EXPECT_TRUE(wasCurrent);
    EXPECT_FALSE(queue.isCurrent());
    EXPECT_EQ(queue.pendingCount(), 0u);
}

TEST(SerialQueue, NamesItsThreadAfterTheLabelsLastComponentWithinFifteenBytes)
{
    struct Case {
        const char *label;
        const char *name;
    };
    for (Case c : {Case{"com.velto.media-worker", "media-worker"},
                   Case{"com.velto.app.web-resource-delivery", "web-resource-de"}, Case{"plain", "plain"}}) {
        SerialQueue queue(c.label);
        char name[16] = {};
        queue.submitAndWait([&] { ::pthread_getname_np(::pthread_self(), name, sizeof name); });
        EXPECT_STREQ(name, c.name) << c.label;
    }
}

TEST(InMemoryUserDefaults, StoredValuesWinOverRegisteredOnesAndTypesDoNotCoerce)
{
    InMemoryUserDefaults defaults;
    defaults.registerDefaults({{"NSFullScreenMenuItemEverywhere", false}, {"glareAmount", 1.0}});
    EXPECT_EQ(defaults.boolean("NSFullScreenMenuItemEverywhere"), false);
    EXPECT_EQ(defaults.number("glareAmount"), 1.0);

    defaults.setNumber("glareAmount", 0.5);
    defaults.setString("deviceSize", "tiny");
    EXPECT_EQ(defaults.number("glareAmount"), 0.5);
    EXPECT_EQ(defaults.string("deviceSize"), "tiny");
    EXPECT_EQ(defaults.number("deviceSize"), std::nullopt);
    EXPECT_EQ(defaults.boolean("glareAmount"), std::nullopt);

    defaults.remove("glareAmount");
    EXPECT_EQ(defaults.number("glareAmount"), 1.0) << "the registered default shows again";
    EXPECT_EQ(defaults.stored().size(), 1u) << "registered defaults are never stored";
}

} // namespace
} // namespace wheelbox
