#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wheelbox {

// What a menu item asks for. The platform menu names each as an application action
// (actionName); the menu's behaviour is MenuActions.
enum class MenuAction {
    about,
    checkForUpdates,
    quit,
    setDeviceSize,
    glareSliderMoved,
    shadowSliderMoved,
    toggleHold
};

struct MenuItem {
    // `title`: the title of a menu of the bar where the body's popup merges the menus.
    enum class Kind { action, separator, sectionHeader, slider, title };

    Kind kind = Kind::action;
    // The item's title; a slider's accessible label.
    std::string title;
    std::optional<MenuAction> action;
    // The size an item of setDeviceSize stands for, as "deviceSize" stores it ("large").
    std::optional<std::string> target;
    // GTK's accelerator form ("<Primary>4", "<Alt>h"); empty for none.
    std::string accelerator;
    // A checkable item: the size items and "Hold".
    bool checkable = false;
};

// One menu of the menu bar. The application menu's title is empty: the desktop shows the
// program's name there.
struct Menu {
    std::string title;
    std::vector<MenuItem> items;
};

// The whole menu bar, in order: the application menu, "View", "Controls". Built once; it makes the
// desktop's application menu, and the device's popup is made from it (bodyMenu).
const std::vector<Menu> &mainMenu();

// The device's popup, opened by a secondary click on the body: the bar's menus one after the
// other, each under its title, with the sizes smallest first (Ctrl+1 to Ctrl+4 in order) and
// "Quit Wheelbox" last. Built once.
const std::vector<MenuItem> &bodyMenu();

// The action's name in the platform's menus ("device-size", "hold").
std::string_view actionName(MenuAction action) noexcept;

// Sliders run from 0 to 2 with 1 in the middle; a value closer to 1 than this snaps to it.
inline constexpr double sliderMinimum = 0.0;
inline constexpr double sliderMaximum = 2.0;
inline constexpr double sliderSnapDistance = 0.06;

// The value a slider shows and sends for where the user put it: 1.0 when strictly within
// sliderSnapDistance of it, else the value itself.
double snappedSliderValue(double value) noexcept;

} // namespace wheelbox
