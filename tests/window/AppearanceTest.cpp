#include "window/Appearance.hpp"
#include "platform/UserDefaults.hpp"
#include "window/FirmwareScripts.hpp"
#include "window/SavedFrame.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace wheelbox {
namespace {

using Stored = std::map<std::string, DefaultsValue, std::less<>>;

TEST(Appearance, StoredAmountsWithTheirFallbacks)
{
    double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char *name;
        Stored stored;
        double glare;
        double shadow;
    } cases[] = {
        {"nothing stored", {}, 1.0, 1.0},
        {"in range", {{"glareAmount", 0.5}, {"shadowAmount", 1.5}}, 0.5, 1.5},
        {"above the range", {{"glareAmount", 3.5}, {"shadowAmount", 2.0}}, 2.0, 2.0},
        {"below the range", {{"glareAmount", -1.0}, {"shadowAmount", -0.01}}, 0.0, 0.0},
        {"not a number", {{"glareAmount", nan}, {"shadowAmount", nan}}, 0.0, 0.0},
        {"level off", {{"glareLevel", std::string("off")}}, 0.0, 1.0},
        {"level low", {{"glareLevel", std::string("low")}}, 0.49, 1.0},
        {"level high", {{"glareLevel", std::string("high")}}, 1.0, 1.0},
        {"level in capitals is another text", {{"glareLevel", std::string("LOW")}}, 1.0, 1.0},
        {"the amount wins over the level",
         {{"glareAmount", 0.25}, {"glareLevel", std::string("off")}},
         0.25,
         1.0},
        {"an amount of another type falls back",
         {{"glareAmount", std::string("0.3")}, {"shadowAmount", true}},
         1.0,
         1.0},
    };
    for (const auto &c : cases) {
        InMemoryUserDefaults defaults(c.stored);
        EXPECT_EQ(appearance::storedGlareAmount(defaults), c.glare) << c.name;
        EXPECT_EQ(appearance::storedShadowAmount(defaults), c.shadow) << c.name;
    }
}

TEST(Appearance, ScriptsSpellNumbersAsRealsAndHoldAsAWord)
{
    EXPECT_EQ(firmwareScripts::setGlare(0.5), "window.veltoFirmware?.setGlare(0.5);");
    EXPECT_EQ(firmwareScripts::setGlare(2), "window.veltoFirmware?.setGlare(2.0);");
    EXPECT_EQ(firmwareScripts::setShadow(0.49), "window.veltoFirmware?.setShadow(0.49);");
    EXPECT_EQ(firmwareScripts::setShadow(0), "window.veltoFirmware?.setShadow(0.0);");
    EXPECT_EQ(firmwareScripts::setShadow(1e-05), "window.veltoFirmware?.setShadow(0.00001);");
    EXPECT_EQ(firmwareScripts::setHold(true), "window.veltoFirmware?.setHold(true);");
    EXPECT_EQ(firmwareScripts::setHold(false), "window.veltoFirmware?.setHold(false);");
    EXPECT_EQ(firmwareScripts::resizeJumped(12, -3.5), "window.veltoFirmware?.resizeJumped(12.0, -3.5);");
}

TEST(SavedFrame, RoundTripsAndRefusesDamagedText)
{
    Rect frame{{745, -130.5}, {470, 770}};
    EXPECT_EQ(savedFrame::format(frame), "745 -130.5 470 770");
    EXPECT_EQ(savedFrame::parse(savedFrame::format(frame)), frame);

    for (const char *text : {
             "",
             "745 130 470",             // three numbers
             "745 130 470 770 1",       // five
             "745  130 470 770",        // two spaces
             " 745 130 470 770",        // leading space
             "745 130 470 770\n",       // line break
             "745,130,470,770",         // other separators
             "745 130 0 770",           // empty
             "745 130 470 -770",        // negative size
             "nan 130 470 770",         // not a number
             "inf 130 470 770",         // infinite
             "1e300 130 470 770",       // far beyond any screen
             "{{745, 130}, {470, 770}}" // another format
         }) {
        EXPECT_EQ(savedFrame::parse(text), std::nullopt) << text;
    }
    EXPECT_EQ(savedFrame::parse(std::string_view("745 130 470 770\0 9", 18)), std::nullopt);
}

} // namespace
} // namespace wheelbox
