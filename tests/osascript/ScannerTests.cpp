// Where a Music scan puts the player at each tick: faster the longer it runs, never past either
// end of the song.

#include "MusicScanner.hpp"
#include "ParameterNames.hpp"

#include <gtest/gtest.h>

#include <string>

namespace wheelbox::osascript {
namespace {

struct TargetCase {
    double start;
    int direction;
    double duration;
    int tick;
    double expected;
    friend void PrintTo(const TargetCase &c, std::ostream *os)
    {
        test::printParameter(std::to_string(c.direction > 0 ? 1 : 0) + " from " + std::to_string(c.start) +
                                 " tick " + std::to_string(c.tick),
                             os);
    }
};

class osascriptScanTargetTest : public ::testing::TestWithParam<TargetCase> {};

TEST_P(osascriptScanTargetTest, StepsFromTheStartPosition)
{
    const auto &c = GetParam();
    EXPECT_DOUBLE_EQ(scanTarget(ScanRequest{c.direction, 1, c.start, c.duration}, c.tick), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Targets, osascriptScanTargetTest,
                         ::testing::Values(TargetCase{10, 1, 300, 1, 11.25}, TargetCase{10, 1, 300, 10, 22.5},
                                           TargetCase{10, 1, 300, 11, 25.0}, TargetCase{10, 1, 300, 25, 60.0},
                                           TargetCase{10, 1, 300, 26, 65.0}, TargetCase{90, 1, 100, 10, 99.5},
                                           TargetCase{50, -1, 300, 2, 47.5}, TargetCase{3, -1, 300, 3, 0.0},
                                           TargetCase{0, 1, 0.2, 1, 0.0}));

} // namespace
} // namespace wheelbox::osascript
