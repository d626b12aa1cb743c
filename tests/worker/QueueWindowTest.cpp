// The play order and temporary-playlist window of a collection played from a chosen track.
#include "worker/QueueWindow.hpp"

#include "platform/RandomSource.hpp"
#include "transport/TransportError.hpp"
#include "worker/WorkerError.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>

namespace wheelbox::test {
namespace {

// Track n of a collection is "T" and its position, so an ID tells where it came from.
std::string track(std::size_t position)
{
    // Appended: GCC 12 at -O3 misreads "T" + std::string&& (-Wrestrict, a false positive).
    std::string id = "T";
    id += std::to_string(position);
    return id;
}

std::vector<std::string> collection(std::size_t count)
{
    std::vector<std::string> ids;
    for (std::size_t i = 0; i < count; ++i)
        ids.push_back(track(i));
    return ids;
}

// Collection positions first…last, in order, for each range.
std::vector<std::string> positions(std::initializer_list<std::pair<std::size_t, std::size_t>> ranges)
{
    std::vector<std::string> ids;
    for (auto [first, last] : ranges) {
        for (std::size_t i = first; i <= last; ++i)
            ids.push_back(track(i));
    }
    return ids;
}

std::vector<std::int64_t> identity(std::size_t count)
{
    std::vector<std::int64_t> indices(count);
    std::iota(indices.begin(), indices.end(), 0);
    return indices;
}

TEST(QueueWindow, InCollectionOrderTheWindowSurroundsTheChosenTrack)
{
    struct Case {
        std::size_t size;
        std::size_t chosen;
        const char *repeat;
        std::vector<std::string> window;
        std::size_t windowIndex;
    };
    const Case cases[] = {
        {1, 0, "Off", positions({{0, 0}}), 0},
        {1, 0, "All", positions({{0, 0}}), 0},
        {199, 0, "Off", positions({{0, 198}}), 0},
        {199, 99, "All", positions({{0, 198}}), 99},
        {199, 198, "Off", positions({{0, 198}}), 198},
        {200, 0, "All", positions({{0, 199}}), 0},
        {200, 199, "Off", positions({{0, 199}}), 199},
        {200, 199, "All", positions({{0, 199}}), 199},
        {201, 0, "Off", positions({{0, 199}}), 0},
        {201, 100, "Off", positions({{0, 199}}), 100},
        {201, 101, "Off", positions({{1, 200}}), 100},
        {201, 200, "Off", positions({{1, 200}}), 199},
        {201, 0, "All", positions({{0, 199}}), 0},
        {201, 100, "All", positions({{100, 200}, {0, 98}}), 0},
        {201, 200, "All", positions({{200, 200}, {0, 198}}), 0},
        {201, 200, "One", positions({{1, 200}}), 199},
        {500, 450, "Off", positions({{300, 499}}), 150},
        {500, 450, "All", positions({{450, 499}, {0, 149}}), 0},
        {5000, 0, "Off", positions({{0, 199}}), 0},
        {5000, 2500, "Off", positions({{2400, 2599}}), 100},
        {5000, 4999, "Off", positions({{4800, 4999}}), 199},
        {5000, 0, "All", positions({{0, 199}}), 0},
        {5000, 2500, "All", positions({{2500, 2699}}), 0},
        {5000, 4999, "All", positions({{4999, 4999}, {0, 198}}), 0},
    };
    SeededRandomSource random(1);
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " tracks from " + std::to_string(c.chosen) + ", repeat " +
                     c.repeat);
        auto ids = collection(c.size);
        auto result = makeQueueWindow(ids, static_cast<std::int64_t>(c.chosen), track(c.chosen), 200,
                                      Shuffle::off, c.repeat, random);
        EXPECT_EQ(result.window, c.window);
        EXPECT_EQ(result.windowIndex, c.windowIndex);
        EXPECT_EQ(result.queue, ids);
        EXPECT_EQ(result.position, c.chosen);
        EXPECT_EQ(result.canonical, ids);
        EXPECT_EQ(result.canonicalIndices, identity(c.size));
    }
}

TEST(QueueWindow, ShuffledTheChosenTrackLeadsAPermutationOfTheRest)
{
    struct Case {
        std::size_t size;
        std::size_t chosen;
        const char *repeat;
    };
    const Case cases[] = {{1, 0, "Off"},     {2, 1, "Off"},       {199, 198, "All"},  {201, 100, "Off"},
                          {201, 200, "All"}, {5000, 2500, "Off"}, {5000, 4999, "All"}};
    SeededRandomSource random(2);
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " tracks from " + std::to_string(c.chosen) + ", repeat " +
                     c.repeat);
        auto ids = collection(c.size);
        auto result = makeQueueWindow(ids, static_cast<std::int64_t>(c.chosen), track(c.chosen), 200,
                                      Shuffle::on, c.repeat, random);
        ASSERT_EQ(result.queue.size(), c.size);
        EXPECT_EQ(result.queue.front(), track(c.chosen));
        EXPECT_EQ(result.position, 0u);
        EXPECT_EQ(result.canonical, ids);
        ASSERT_EQ(result.canonicalIndices.size(), c.size);
        for (std::size_t i = 0; i < c.size; ++i)
            EXPECT_EQ(ids[static_cast<std::size_t>(result.canonicalIndices[i])], result.queue[i]);
        auto sorted = result.canonicalIndices;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(sorted, identity(c.size)) << "every track exactly once";
        if (c.size > 10) {
            EXPECT_NE(result.queue, ids) << "the rest is shuffled";
        }
        std::vector<std::string> head(result.queue.begin(),
                                      result.queue.begin() +
                                          static_cast<std::ptrdiff_t>(std::min<std::size_t>(200, c.size)));
        EXPECT_EQ(result.window, head) << "the window starts with the chosen track";
        EXPECT_EQ(result.windowIndex, 0u);
    }
}

TEST(QueueWindow, EveryOrderOfTheRestIsEquallyLikely)
{
    // Four tracks, the first chosen: 6 orders of the other three, 60,000 draws.
    SeededRandomSource random(3);
    auto ids = collection(4);
    std::map<std::vector<std::string>, int> seen;
    constexpr int draws = 60'000;
    for (int i = 0; i < draws; ++i)
        ++seen[makeQueueWindow(ids, 0, track(0), 200, Shuffle::on, "Off", random).queue];
    ASSERT_EQ(seen.size(), 6u);
    for (const auto &[order, count] : seen)
        EXPECT_NEAR(count, draws / 6, 400) << order[1] << order[2] << order[3];
}

TEST(QueueWindow, TheIndexNamesAnOccurrenceOnlyWhenItPointsAtTheTrack)
{
    const std::vector<std::string> withRepeat = {"A", "B", "A", "C"};
    SeededRandomSource random(4);
    auto chosen = [&](const std::vector<std::string> &ids, std::int64_t index, const std::string &id) {
        return makeQueueWindow(ids, index, id, 200, Shuffle::off, "Off", random).position;
    };
    EXPECT_EQ(chosen(withRepeat, 2, "A"), 2u) << "the index picks the second A";
    EXPECT_EQ(chosen(withRepeat, 0, "A"), 0u);
    EXPECT_EQ(chosen(withRepeat, 0, "C"), 3u) << "a stale index is looked past";
    EXPECT_EQ(chosen(withRepeat, 99, "B"), 1u);
    EXPECT_EQ(chosen(withRepeat, -1, "B"), 1u);

    struct Failure {
        const char *what;
        std::vector<std::string> ids;
        std::int64_t index;
        std::string id;
    };
    const Failure failures[] = {
        {"not in the collection", withRepeat, 0, "Z"},
        {"twice, and the index points elsewhere", withRepeat, 1, "A"},
        {"an empty collection", {}, 0, "A"},
    };
    for (const auto &f : failures) {
        SCOPED_TRACE(f.what);
        try {
            makeQueueWindow(f.ids, f.index, f.id, 200, Shuffle::on, "Off", random);
            ADD_FAILURE() << "no error";
        } catch (const TransportError &error) {
            EXPECT_EQ(error, TransportError::invalidItem(f.id));
            EXPECT_EQ(std::string(error.what()), "This transport cannot play " + f.id + ".");
        }
    }
}

TEST(QueueWindow, AMaximumBelowOneIsAnInvalidParameter)
{
    SeededRandomSource random(5);
    for (std::int64_t maximum : {0, -1}) {
        try {
            makeQueueWindow(collection(3), 0, track(0), maximum, Shuffle::off, "Off", random);
            ADD_FAILURE() << "no error";
        } catch (const WorkerError &error) {
            EXPECT_STREQ(error.what(), "Invalid parameter: maximumCount");
        }
    }
}

} // namespace
} // namespace wheelbox::test
