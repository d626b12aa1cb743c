#include "window/ResizeSequence.hpp"
#include "support/ManualMainLoop.hpp"
#include "window/FakeDevice.hpp"
#include "window/FirmwareScripts.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace wheelbox {
namespace {

using namespace std::chrono_literals;
using test::FakeScreens;
using test::FakeWebView;
using test::FakeWindow;
using testing::ElementsAre;

constexpr Size large{470, 770};
constexpr Size medium{352, 578};
constexpr Size small{235, 385};

class ResizeSequenceTest : public testing::Test {
  protected:
    explicit ResizeSequenceTest(FakeScreens screens = FakeScreens::single()) : screens_(std::move(screens)) {}

    void placeAt(Rect frame) { window_.currentFrame = frame; }

    std::size_t count(const std::string &script) const
    {
        return static_cast<std::size_t>(std::count(webView_.scripts.begin(), webView_.scripts.end(), script));
    }

    bool completeResizeOut() { return webView_.completeAsync(firmwareScripts::resizeOutBody); }
    bool completeTwoFrames() { return webView_.completeAsync(firmwareScripts::twoFramesBody); }

    test::ManualClock clock_;
    test::ManualMainLoop loop_{clock_};
    test::Journal journal_;
    FakeScreens screens_;
    FakeWebView webView_{journal_};
    FakeWindow window_{journal_, {large, normalWindowLevel}};
    ResizeSequence resize_{loop_, screens_, window_, webView_};
};

TEST_F(ResizeSequenceTest, ShrinkingKeepsTheCentreAndLetsTheFirmwareAnimateFirst)
{
    placeAt({{700, 150}, large});
    resize_.resizeWindow(medium);
    ASSERT_EQ(webView_.asyncCalls.size(), 1u);
    EXPECT_EQ(webView_.asyncCalls[0].body, firmwareScripts::resizeOutBody);
    EXPECT_THAT(webView_.asyncCalls[0].arguments,
                ElementsAre(std::pair<const std::string, double>("ratio", 352.0 / 470)));
    EXPECT_TRUE(webView_.snapshots.empty()) << "the picture waits for the firmware's shrink";
    EXPECT_TRUE(window_.frames.empty());

    ASSERT_TRUE(completeResizeOut());
    ASSERT_TRUE(webView_.completeSnapshot());
    EXPECT_EQ(window_.currentFrame, (Rect{{759, 246}, medium}));
    EXPECT_EQ(window_.overlaysShown, 1);
    EXPECT_EQ(webView_.alphaValue, 0);
    EXPECT_EQ(window_.overlayOrigin, (Point{-59, -96})) << "the picture stays still on the screen";

    ASSERT_TRUE(completeTwoFrames());
    loop_.advance(99ms);
    EXPECT_EQ(webView_.alphaValue, 0);
    loop_.advance(1ms);
    EXPECT_EQ(webView_.alphaValue, 1);
    EXPECT_EQ(window_.overlaysRemoved, 1);
    EXPECT_THAT(window_.fades, ElementsAre(ResizeSequence::fade));
    EXPECT_FALSE(resize_.hasOverlay());
    loop_.advance(2s);
    EXPECT_TRUE(webView_.scripts.empty()) << "a shrink in place sends neither resizeJumped nor resizeGo";
}

TEST_F(ResizeSequenceTest, GrowingTakesThePictureAtOnceAndSendsResizeGoAfterTheFade)
{
    placeAt({{700, 300}, small});
    resize_.resizeWindow(large);
    EXPECT_TRUE(webView_.asyncCalls.empty());
    ASSERT_TRUE(webView_.completeSnapshot());
    EXPECT_EQ(window_.currentFrame, (Rect{{583, 108}, large})); // 817.5 - 235 and 492.5 - 385, rounded
    EXPECT_EQ(count(firmwareScripts::resizeGo), 0u);
    ASSERT_TRUE(completeTwoFrames());
    loop_.advance(100ms);
    EXPECT_EQ(webView_.alphaValue, 1);
    loop_.advance(119ms);
    EXPECT_EQ(count(firmwareScripts::resizeGo), 0u);
    loop_.advance(1ms);
    EXPECT_EQ(webView_.scripts, std::vector<std::string>{firmwareScripts::resizeGo});
}

TEST_F(ResizeSequenceTest, GrowingAtTheRightEdgeMovesLeftAndTellsTheFirmwareOfTheJump)
{
    placeAt({{1920 - 235, 300}, small});
    resize_.resizeWindow(large);
    ASSERT_TRUE(webView_.completeSnapshot());
    EXPECT_EQ(window_.currentFrame, (Rect{{1450, 108}, large}));
    // The old centre (1802.5, 492.5) sits 117.5 points right of the new one (1685, 493); half a
    // point of rounding alone would not have counted as a jump.
    EXPECT_EQ(webView_.scripts, std::vector<std::string>{"window.veltoFirmware?.resizeJumped(117.5, 0.5);"});
    EXPECT_EQ(window_.overlayOrigin, (Point{235, 192}));
    loop_.advance(800ms + 120ms);
    EXPECT_EQ(webView_.scripts.back(), firmwareScripts::resizeGo);
}

TEST_F(ResizeSequenceTest, ShrinkingAgainstTheTopEdgeJumpsAndResumes)
{
    // A large window reaching past the visible frame's top (1055): the medium one is kept inside,
    // so its centre moves down.
    placeAt({{700, 1055 - 770 + 100}, large});
    resize_.resizeWindow(medium);
    ASSERT_TRUE(completeResizeOut());
    ASSERT_TRUE(webView_.completeSnapshot());
    EXPECT_EQ(window_.currentFrame.origin.y, 1055 - 578);
    EXPECT_EQ(count("window.veltoFirmware?.resizeJumped(0.0, -4.0);"), 1u);
    loop_.advance(920ms);
    EXPECT_EQ(count(firmwareScripts::resizeGo), 1u);
}

TEST_F(ResizeSequenceTest, TheSameWidthResetsTheFirmwareAndRemovesALeftoverPicture)
{
    placeAt({{700, 300}, small});
    resize_.resizeWindow(large);
    ASSERT_TRUE(webView_.completeSnapshot());
    ASSERT_TRUE(resize_.hasOverlay());
    auto framesBefore = window_.frames.size();

    resize_.resizeWindow({large.width + 0.5, large.height});
    EXPECT_FALSE(resize_.hasOverlay());
    EXPECT_EQ(window_.overlaysRemoved, 1);
    EXPECT_TRUE(window_.fades.empty()) << "removed at once, not faded";
    EXPECT_EQ(webView_.alphaValue, 1);
    EXPECT_EQ(window_.frames.size(), framesBefore);
    EXPECT_EQ(webView_.scripts, std::vector<std::string>{firmwareScripts::resizeReset});
    EXPECT_TRUE(webView_.snapshots.empty());
    loop_.advance(2s);
    completeTwoFrames();
    loop_.advance(2s);
    EXPECT_EQ(webView_.scripts, std::vector<std::string>{firmwareScripts::resizeReset})
        << "the overtaken grow sends no resizeGo";
}

TEST_F(ResizeSequenceTest, APageThatNeverDrawsIsFinishedOnceByTheFallback)
{
    placeAt({{700, 300}, small});
    resize_.resizeWindow(large);
    ASSERT_TRUE(webView_.completeSnapshot());
    loop_.advance(799ms);
    EXPECT_EQ(webView_.alphaValue, 0);
    loop_.advance(1ms);
    EXPECT_EQ(webView_.alphaValue, 1);
    EXPECT_EQ(window_.fades.size(), 1u);
    ASSERT_TRUE(completeTwoFrames()) << "the page draws after all, late";
    loop_.advance(2s);
    EXPECT_EQ(window_.fades.size(), 1u);
    EXPECT_EQ(count(firmwareScripts::resizeGo), 1u);
}

TEST_F(ResizeSequenceTest, WithoutAPictureTheWindowStillChangesAndTheFirmwareResumes)
{
    placeAt({{700, 300}, small});
    resize_.resizeWindow(large);
    ASSERT_TRUE(webView_.completeSnapshot(false));
    EXPECT_EQ(window_.overlaysShown, 0);
    EXPECT_EQ(webView_.alphaValue, 1) << "the page stays visible";
    EXPECT_EQ(window_.currentFrame.size, large);
    loop_.advance(920ms);
    EXPECT_EQ(count(firmwareScripts::resizeGo), 1u) << "a grown firmware waits for resizeGo";
}

// A second resize starts while the first waits at each of its asynchronous steps; nothing of the
// first may happen afterwards.
TEST_F(ResizeSequenceTest, AnOvertakenResizeDoesNothingMoreAtAnyStep)
{
    enum Step { waitingForShrink, waitingForSnapshot, waitingForFrames, pausing, waitingToResume };
    for (Step step : {waitingForShrink, waitingForSnapshot, waitingForFrames, pausing, waitingToResume}) {
        SCOPED_TRACE(step);
        test::Journal journal;
        FakeWebView webView{journal};
        FakeWindow window{journal, {large, normalWindowLevel}};
        ResizeSequence resize{loop_, screens_, window, webView};
        // Past the screen's top, so the first resize (a shrink that jumps) has every step.
        window.currentFrame = {{700, 385}, large};
        resize.resizeWindow(medium);
        if (step > waitingForShrink) {
            ASSERT_TRUE(webView.completeAsync(firmwareScripts::resizeOutBody));
        }
        if (step > waitingForSnapshot) {
            ASSERT_TRUE(webView.completeSnapshot());
        }
        if (step > waitingForFrames) {
            ASSERT_TRUE(webView.completeAsync(firmwareScripts::twoFramesBody));
        }
        if (step > pausing)
            loop_.advance(100ms);

        // The second one is a shrink too, left waiting for its firmware call.
        resize.resizeWindow({window.currentFrame.size.width - 100, 300});
        auto frames = window.frames.size();
        auto scripts = webView.scripts;
        int shown = window.overlaysShown;
        int removed = window.overlaysRemoved;
        double alpha = webView.alphaValue;

        // What the first one waited for comes in now.
        if (step == waitingForShrink) {
            ASSERT_TRUE(webView.completeAsync(firmwareScripts::resizeOutBody));
        }
        if (step == waitingForSnapshot) {
            ASSERT_TRUE(webView.completeSnapshot());
        }
        if (step == waitingForFrames) {
            ASSERT_TRUE(webView.completeAsync(firmwareScripts::twoFramesBody));
        }
        loop_.advance(3s);

        EXPECT_EQ(window.frames.size(), frames);
        EXPECT_EQ(webView.scripts, scripts);
        EXPECT_EQ(window.overlaysShown, shown);
        EXPECT_EQ(window.overlaysRemoved, removed);
        EXPECT_EQ(webView.alphaValue, alpha);
    }
}

TEST_F(ResizeSequenceTest, GoingBackAndForthThroughAnOddSizeNeverCreeps)
{
    Rect start{{405, 127}, large};
    placeAt(start);
    auto resizeTo = [&](Size size) {
        resize_.resizeWindow(size);
        if (size.width < window_.currentFrame.size.width) {
            ASSERT_TRUE(completeResizeOut());
        }
        ASSERT_TRUE(webView_.completeSnapshot());
        loop_.advance(1s);
    };
    for (int round = 0; round < 3; ++round) {
        resizeTo(small);
        EXPECT_EQ(window_.currentFrame.origin, (Point{523, 320})); // 522.5 and 319.5, away from zero
        resizeTo(large);
        EXPECT_EQ(window_.currentFrame, start);
    }
    EXPECT_EQ(count("window.veltoFirmware?.resizeJumped(0.5, 0.5);"), 0u) << "rounding is no jump";

    // Once the user moves the window, its own centre counts.
    resizeTo(small);
    placeAt({{600, 300}, small});
    resizeTo(large);
    EXPECT_EQ(window_.currentFrame.origin, (Point{483, 108})); // 717.5 - 235 and 492.5 - 385
}

TEST_F(ResizeSequenceTest, AResizeThatOutlivesItsSequenceObjectIsDropped)
{
    placeAt({{700, 150}, large});
    auto resize = std::make_unique<ResizeSequence>(loop_, screens_, window_, webView_);
    resize->resizeWindow(medium);
    resize.reset();
    EXPECT_TRUE(completeResizeOut());
    EXPECT_TRUE(webView_.snapshots.empty());
}

class ResizeWithoutScreensTest : public ResizeSequenceTest {
  protected:
    ResizeWithoutScreensTest() : ResizeSequenceTest(FakeScreens()) {}
};

TEST_F(ResizeWithoutScreensTest, TheOriginIsNotClamped)
{
    placeAt({{5000, -900}, small});
    resize_.resizeWindow(large);
    ASSERT_TRUE(webView_.completeSnapshot());
    EXPECT_EQ(window_.currentFrame, (Rect{{4883, -1093}, large})); // 4882.5 and -1092.5, away from zero
}

} // namespace
} // namespace wheelbox
