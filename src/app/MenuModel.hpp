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
    enum class Kind { action, separator, sectionHeader, slider };

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

// The whole menu bar, in order: the application menu, "View", "Controls". Built once; the same
// description makes the desktop's application menu and the device's popup.
const std::vector<Menu> &mainMenu();

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
