#include "window/DeviceSize.hpp"
#include "window/ScreenFitting.hpp"
#include "window/WheelHitTest.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace wheelbox {
namespace {

Rect rect(double x, double y, double width, double height)
{
    return {{x, y}, {width, height}};
}

TEST(DeviceSizes, RawValuesRoundTripAndNothingElseReads)
{
    for (DeviceSize size : allDeviceSizes)
        EXPECT_EQ(deviceSizeFromRawValue(rawValue(size)), size);
    for (std::string_view raw : {"", "Large", "LARGE", "huge", " large", "large "})
        EXPECT_EQ(deviceSizeFromRawValue(raw), std::nullopt) << raw;
    EXPECT_EQ(deviceSizeFromRawValue(std::string_view("large\0x", 7)), std::nullopt);
}

TEST(DeviceSizes, HalfPointSizesRoundToTheEvenPixelAndWholeOnesStay)
{
    struct Case {
        DeviceSize size;
        Size design;
        Size window;
    } cases[] = {
        {DeviceSize::large, {470, 770}, {470, 770}},
        {DeviceSize::medium, {352.5, 577.5}, {352, 578}},
        {DeviceSize::small, {235, 385}, {235, 385}},
        {DeviceSize::tiny, {164.5, 269.5}, {164, 270}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(designSize(c.size), c.design) << rawValue(c.size);
        EXPECT_EQ(windowSize(c.size), c.window) << rawValue(c.size);
    }
}

TEST(DeviceSizes, FittedSizeTakesTheLargestThatFitsFromTheOneAsked)
{
    struct Case {
        DeviceSize asked;
        Size visible;
        DeviceSize expected;
    } cases[] = {
        {DeviceSize::large, {1920, 1055}, DeviceSize::large},
        {DeviceSize::large, {470, 770}, DeviceSize::large}, // exactly the window
        {DeviceSize::large, {470, 769}, DeviceSize::medium},
        {DeviceSize::large, {1366, 743}, DeviceSize::medium},
        {DeviceSize::large, {352, 578}, DeviceSize::medium}, // the medium window exactly
        {DeviceSize::large, {352, 577}, DeviceSize::small},
        {DeviceSize::large, {800, 400}, DeviceSize::small},
        {DeviceSize::large, {200, 300}, DeviceSize::tiny},
        {DeviceSize::large, {100, 100}, DeviceSize::tiny},    // nothing fits
        {DeviceSize::small, {1920, 1055}, DeviceSize::small}, // never grows
        {DeviceSize::tiny, {0, 0}, DeviceSize::tiny},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(fittedSize(c.asked, rect(0, 0, c.visible.width, c.visible.height)), c.expected)
            << rawValue(c.asked) << " in " << c.visible.width << "x" << c.visible.height;
    }
}

TEST(ScreenFitting, BestVisibleFrameOverScreenLayouts)
{
    Rect left = rect(0, 0, 1920, 1055);
    Rect right = rect(1920, 0, 1280, 1000);
    std::vector<Rect> sideBySide = {left, right};
    struct Case {
        const char *name;
        Rect frame;
        std::vector<Rect> screens;
        std::optional<Rect> main;
        std::optional<Rect> expected;
    } cases[] = {
        {"one screen", rect(100, 100, 470, 770), {left}, left, left},
        {"on the right screen", rect(2000, 100, 470, 770), sideBySide, left, right},
        {"straddling, mostly right", rect(1700, 100, 470, 770), sideBySide, left, right},
        {"straddling, mostly left", rect(1500, 100, 470, 770), sideBySide, left, left},
        {"straddling equally: the first wins", rect(1685, 100, 470, 770), sideBySide, right, left},
        {"on no screen: the main one", rect(9000, 9000, 470, 770), sideBySide, right, right},
        {"on no screen and no main", rect(9000, 9000, 470, 770), sideBySide, std::nullopt, std::nullopt},
        {"touching only an edge counts as none", rect(-470, 0, 470, 770), {left}, right, right},
        {"no screens at all", rect(0, 0, 470, 770), {}, left, left},
        {"no screens and no main", rect(0, 0, 470, 770), {}, std::nullopt, std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(bestVisibleFrame(c.frame, c.screens, c.main), c.expected) << c.name;
}

TEST(ScreenFitting, ClampingKeepsTheFrameInsideOrOnTheLeftAndBottomEdges)
{
    Rect visible = rect(100, 50, 1000, 800);
    struct Case {
        const char *name;
        Rect frame;
        Point expected;
    } cases[] = {
        {"inside stays", rect(300, 60, 470, 770), {300, 60}},
        {"past the right edge", rect(900, 60, 470, 770), {630, 60}},
        {"past the left edge", rect(-40, 60, 470, 770), {100, 60}},
        {"above the top", rect(300, 200, 470, 770), {300, 80}},
        {"below the bottom", rect(300, -500, 470, 770), {300, 50}},
        {"wider than the screen: left edge", rect(500, 60, 1200, 770), {100, 60}},
        {"taller than the screen: bottom edge", rect(300, 400, 470, 900), {300, 50}},
    };
    for (const auto &c : cases) {
        Rect clamped = clampedFrame(c.frame, visible);
        EXPECT_EQ(clamped.origin, c.expected) << c.name;
        EXPECT_EQ(clamped.size, c.frame.size) << c.name;
    }
}

TEST(ScreenFitting, ScreenOfFrameIsTheScreenItOverlapsMost)
{
    std::vector<Screen> screens = {{rect(0, 0, 1920, 1080), rect(0, 0, 1920, 1055)},
                                   {rect(1920, 0, 1280, 1024), rect(1920, 0, 1280, 1000)}};
    EXPECT_EQ(screenOfFrame(rect(1800, 0, 470, 770), screens), screens[1]);
    EXPECT_EQ(screenOfFrame(rect(10, 10, 470, 770), screens), screens[0]);
    EXPECT_EQ(screenOfFrame(rect(-1000, -1000, 470, 770), screens), std::nullopt);
}

TEST(ScreenFitting, CentredFrameKeepsTheCentreToTheNearestPoint)
{
    struct Case {
        Rect frame;
        Size size;
        Point expected;
    } cases[] = {
        {rect(100, 100, 470, 770), {352, 578}, {159, 196}},     // exact
        {rect(100, 100, 470, 770), {235, 385}, {218, 293}},     // 217.5 and 292.5 round up
        {rect(-100, -100, 470, 770), {235, 385}, {18, 93}},     // 17.5 and 92.5
        {rect(-300, -500, 470, 770), {235, 385}, {-183, -308}}, // -182.5 and -307.5: away from zero
    };
    for (const auto &c : cases)
        EXPECT_EQ(centredFrame(c.frame, c.size), (Rect{c.expected, c.size}));
}

// Points of the view as fractions of the large design (470 × 770), y from the top; the body's
// left edge is at 40 and its top at 63.
TEST(WheelHitTest, TheEllipseOnTheBodyAtEverySize)
{
    struct Case {
        const char *name;
        Point design;
        bool inside;
    } cases[] = {
        {"wheel centre", {235, 63 + 644 * 0.6964334517627767}, true},
        {"just inside the rim, right",
         {235 + 390 * 0.37948717948717947 - 0.5, 63 + 644 * 0.6964334517627767},
         true},
        {"just outside the rim, right",
         {235 + 390 * 0.37948717948717947 + 0.5, 63 + 644 * 0.6964334517627767},
         false},
        {"just inside the rim, bottom",
         {235, 63 + 644 * (0.6964334517627767 + 0.22981937439439487) - 0.5},
         true},
        {"just outside the rim, top",
         {235, 63 + 644 * (0.6964334517627767 - 0.22981937439439487) - 0.5},
         false},
        {"the screen", {235, 200}, false},
        {"body top-left corner", {40, 63}, false},
        {"body bottom-right corner", {429.9, 706.9}, false},
        {"outside the body", {10, 500}, false},
        {"outside the view", {-50, -50}, false},
    };
    for (DeviceSize size : allDeviceSizes) {
        Size bounds = designSize(size);
        double scale = bounds.width / 470;
        for (const auto &c : cases) {
            Point point{c.design.x * scale, c.design.y * scale};
            EXPECT_EQ(isInsideWheel(point, bounds), c.inside) << rawValue(size) << ": " << c.name;
        }
    }
}

TEST(WheelHitTest, NoPointIsOnTheWheelOfAnEmptyOrBrokenView)
{
    double nan = std::numeric_limits<double>::quiet_NaN();
    double wheelY = 63 + 644 * 0.6964334517627767;
    EXPECT_FALSE(isInsideWheel({nan, nan}, {470, 770}));
    EXPECT_FALSE(isInsideWheel({235, wheelY}, {0, 0}));
    EXPECT_FALSE(isInsideWheel({235, wheelY}, {nan, 770}));
}

} // namespace
} // namespace wheelbox
