#include "app/MenuActions.hpp"
#include "app/MenuModel.hpp"
#include "platform/Updater.hpp"
#include "support/ManualMainLoop.hpp"
#include "window/FakeDevice.hpp"
#include "window/PlayerWindowController.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace wheelbox {
namespace {

using Kind = MenuItem::Kind;

struct Row {
    std::string menu;
    Kind kind;
    std::string title;
    std::optional<MenuAction> action;
    std::optional<std::string> target;
    std::string accelerator;
    bool checkable;
};

Row rowOf(const std::string &menu, const MenuItem &item)
{
    return {menu, item.kind, item.title, item.action, item.target, item.accelerator, item.checkable};
}

void expectRows(const std::vector<Row> &actual, const std::vector<Row> &expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t index = 0; index < expected.size(); ++index) {
        SCOPED_TRACE("row " + std::to_string(index) + ": " + expected[index].title);
        EXPECT_EQ(actual[index].menu, expected[index].menu);
        EXPECT_EQ(actual[index].kind, expected[index].kind);
        EXPECT_EQ(actual[index].title, expected[index].title);
        EXPECT_EQ(actual[index].action, expected[index].action);
        EXPECT_EQ(actual[index].target, expected[index].target);
        EXPECT_EQ(actual[index].accelerator, expected[index].accelerator);
        EXPECT_EQ(actual[index].checkable, expected[index].checkable);
    }
}

TEST(MenuModel, TitlesOrderActionsAndAccelerators)
{
    const std::vector<Row> expected = {
        {"", Kind::action, "About Wheelbox", MenuAction::about, {}, "", false},
        {"", Kind::separator, "", {}, {}, "", false},
        {"", Kind::action, "Check for Updates\u2026", MenuAction::checkForUpdates, {}, "", false},
        {"", Kind::separator, "", {}, {}, "", false},
        {"", Kind::action, "Quit Wheelbox", MenuAction::quit, {}, "<Primary>q", false},
        {"View", Kind::action, "Large", MenuAction::setDeviceSize, "large", "<Primary>4", true},
        {"View", Kind::action, "Medium", MenuAction::setDeviceSize, "medium", "<Primary>3", true},
        {"View", Kind::action, "Small", MenuAction::setDeviceSize, "small", "<Primary>2", true},
        {"View", Kind::action, "Tiny", MenuAction::setDeviceSize, "tiny", "<Primary>1", true},
        {"View", Kind::separator, "", {}, {}, "", false},
        {"View", Kind::sectionHeader, "Glare", {}, {}, "", false},
        {"View", Kind::slider, "Glare", MenuAction::glareSliderMoved, {}, "", false},
        {"View", Kind::sectionHeader, "Shadow", {}, {}, "", false},
        {"View", Kind::slider, "Shadow", MenuAction::shadowSliderMoved, {}, "", false},
        {"Controls", Kind::action, "Hold", MenuAction::toggleHold, {}, "<Alt>h", true},
    };
    std::vector<Row> actual;
    for (const Menu &menu : mainMenu()) {
        for (const MenuItem &item : menu.items)
            actual.push_back(rowOf(menu.title, item));
    }
    expectRows(actual, expected);
}

// The popup on the body: the bar's menus in their order under their titles, the sizes counting
// up, Quit at the end; the same actions, targets and keys as the bar.
TEST(MenuModel, TheBodyMenuMergesTheBarInOrderUnderItsTitles)
{
    const std::vector<Row> expected = {
        {"", Kind::action, "About Wheelbox", MenuAction::about, {}, "", false},
        {"", Kind::separator, "", {}, {}, "", false},
        {"", Kind::action, "Check for Updates\u2026", MenuAction::checkForUpdates, {}, "", false},
        {"", Kind::separator, "", {}, {}, "", false},
        {"", Kind::title, "View", {}, {}, "", false},
        {"", Kind::action, "Tiny", MenuAction::setDeviceSize, "tiny", "<Primary>1", true},
        {"", Kind::action, "Small", MenuAction::setDeviceSize, "small", "<Primary>2", true},
        {"", Kind::action, "Medium", MenuAction::setDeviceSize, "medium", "<Primary>3", true},
        {"", Kind::action, "Large", MenuAction::setDeviceSize, "large", "<Primary>4", true},
        {"", Kind::separator, "", {}, {}, "", false},
        {"", Kind::sectionHeader, "Glare", {}, {}, "", false},
        {"", Kind::slider, "Glare", MenuAction::glareSliderMoved, {}, "", false},
        {"", Kind::sectionHeader, "Shadow", {}, {}, "", false},
        {"", Kind::slider, "Shadow", MenuAction::shadowSliderMoved, {}, "", false},
        {"", Kind::separator, "", {}, {}, "", false},
        {"", Kind::title, "Controls", {}, {}, "", false},
        {"", Kind::action, "Hold", MenuAction::toggleHold, {}, "<Alt>h", true},
        {"", Kind::separator, "", {}, {}, "", false},
        {"", Kind::action, "Quit Wheelbox", MenuAction::quit, {}, "<Primary>q", false},
    };
    std::vector<Row> actual;
    for (const MenuItem &item : bodyMenu())
        actual.push_back(rowOf("", item));
    expectRows(actual, expected);
}

TEST(MenuModel, ActionNamesAreDistinct)
{
    std::set<std::string_view> names;
    for (MenuAction action :
         {MenuAction::about, MenuAction::checkForUpdates, MenuAction::quit, MenuAction::setDeviceSize,
          MenuAction::glareSliderMoved, MenuAction::shadowSliderMoved, MenuAction::toggleHold})
        EXPECT_TRUE(names.insert(actionName(action)).second) << actionName(action);
}

TEST(MenuModel, SliderSnapsToOneOnlyStrictlyWithinSixHundredths)
{
    struct Case {
        double moved;
        double shown;
    } cases[] = {{0.95, 1.0},  {1.05, 1.0},  {0.93, 0.93}, {1.0, 1.0}, {0.941, 1.0},
                 {1.059, 1.0}, {1.06, 1.06}, {0.94, 0.94}, {0.0, 0.0}, {2.0, 2.0}};
    for (const Case &c : cases)
        EXPECT_EQ(snappedSliderValue(c.moved), c.shown) << c.moved;
}

class CountingUpdater final : public Updater {
  public:
    void checkForUpdates() override { ++checks; }
    int checks = 0;
};

// The real controller over the window's fakes, on a screen too small for the large device.
class MenuActionsTest : public testing::Test {
  protected:
    MenuActionsTest()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "wheelbox-menu.XXXXXX").string();
        firmware_ = ::mkdtemp(pattern.data());
        std::ofstream(firmware_ / "index.html") << "<!doctype html>";
        defaults_.setString("deviceSize", "large");
        controller_ = std::make_unique<PlayerWindowController>(PlayerWindowController::Environment{
            loop_, defaults_, screens_, views_,
            [this] { return std::make_unique<test::FakeBridge>(journal_); }, firmware_,
            [](const std::string &) {
            }});
    }
    ~MenuActionsTest() override
    {
        controller_.reset();
        std::filesystem::remove_all(firmware_);
    }

    std::filesystem::path firmware_;
    test::ManualClock clock_;
    test::ManualMainLoop loop_{clock_};
    test::Journal journal_;
    InMemoryUserDefaults defaults_;
    // 700 high: the large device (770) does not fit, the medium one does.
    test::FakeScreens screens_ = test::FakeScreens::single(1000, 725);
    test::FakeViewFactory views_{journal_};
    std::unique_ptr<PlayerWindowController> controller_;
    CountingUpdater updater_;
};

TEST_F(MenuActionsTest, CheckMarksAndValuesAfterEachAction)
{
    MenuActions actions(controller_.get(), &updater_);
    // At launch the mark is on the size fitted to the screen, not the stored one.
    EXPECT_EQ(actions.checkedSize(), "medium");
    EXPECT_FALSE(actions.isHoldChecked());
    EXPECT_EQ(actions.sliderStartValue(MenuAction::glareSliderMoved), 1.0);

    struct Step {
        std::string what;
        std::function<std::optional<double>(MenuActions &)> act;
        std::optional<double> shown; // what the slider is set to afterwards
        std::string checkedSize;
        bool hold;
        double glare;
        double shadow;
    };
    auto size = [](const char *raw) {
        return [raw](MenuActions &a) -> std::optional<double> {
            a.setDeviceSize(raw);
            return std::nullopt;
        };
    };
    auto glare = [](double value) {
        return [value](MenuActions &a) {
            return a.sliderMoved(MenuAction::glareSliderMoved, value);
        };
    };
    auto shadow = [](double value) {
        return [value](MenuActions &a) {
            return a.sliderMoved(MenuAction::shadowSliderMoved, value);
        };
    };
    auto hold = [](MenuActions &a) -> std::optional<double> {
        a.toggleHold();
        return std::nullopt;
    };
    const std::vector<Step> steps = {
        {"Large on a small screen checks the size applied", size("large"), {}, "medium", false, 1.0, 1.0},
        {"Tiny", size("tiny"), {}, "tiny", false, 1.0, 1.0},
        {"an unknown size changes nothing", size("huge"), {}, "tiny", false, 1.0, 1.0},
        {"a size's raw value is exact", size("Small"), {}, "tiny", false, 1.0, 1.0},
        {"the first hold turns it on", hold, {}, "tiny", true, 1.0, 1.0},
        {"the second turns it off", hold, {}, "tiny", false, 1.0, 1.0},
        {"glare 0.93 is sent as it is", glare(0.93), {}, "tiny", false, 0.93, 1.0},
        {"glare 0.95 snaps to 1", glare(0.95), 1.0, "tiny", false, 1.0, 1.0},
        {"glare 1.05 snaps to 1", glare(1.05), 1.0, "tiny", false, 1.0, 1.0},
        {"shadow 1.06 is just outside", shadow(1.06), {}, "tiny", false, 1.0, 1.06},
        {"shadow 0.941 snaps", shadow(0.941), 1.0, "tiny", false, 1.0, 1.0},
        {"shadow 2.5 is clamped by the device", shadow(2.5), {}, "tiny", false, 1.0, 2.0},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        EXPECT_EQ(step.act(actions), step.shown);
        EXPECT_EQ(actions.checkedSize(), step.checkedSize);
        EXPECT_EQ(controller_->deviceSize(), *deviceSizeFromRawValue(step.checkedSize));
        EXPECT_EQ(actions.isHoldChecked(), step.hold);
        EXPECT_EQ(controller_->isHoldEnabled(), step.hold);
        EXPECT_EQ(controller_->glareAmount(), step.glare);
        EXPECT_EQ(controller_->shadowAmount(), step.shadow);
    }
    EXPECT_EQ(defaults_.string("deviceSize"), "tiny");
    actions.checkForUpdates();
    EXPECT_EQ(updater_.checks, 1);
}

TEST_F(MenuActionsTest, WithoutAControllerNothingChanges)
{
    MenuActions actions(nullptr, nullptr);
    EXPECT_EQ(actions.checkedSize(), std::nullopt);
    EXPECT_EQ(actions.sliderStartValue(MenuAction::shadowSliderMoved), 1.0);
    actions.setDeviceSize("small");
    actions.toggleHold();
    actions.checkForUpdates();
    EXPECT_EQ(actions.checkedSize(), std::nullopt);
    EXPECT_FALSE(actions.isHoldChecked());
    EXPECT_EQ(actions.sliderMoved(MenuAction::glareSliderMoved, 0.97), std::nullopt);
}

TEST_F(MenuActionsTest, SlidersStartAtTheControllersAmounts)
{
    controller_->applyGlareAmount(0.4);
    controller_->applyShadowAmount(1.7);
    MenuActions actions(controller_.get(), &updater_);
    EXPECT_EQ(actions.sliderStartValue(MenuAction::glareSliderMoved), 0.4);
    EXPECT_EQ(actions.sliderStartValue(MenuAction::shadowSliderMoved), 1.7);
}

} // namespace
} // namespace wheelbox
