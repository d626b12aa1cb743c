#pragma once

#include "app/MenuModel.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace wheelbox {

class PlayerWindowController;
class Updater;

// What the menu's items do, and the check marks and slider values the menu shows. The platform
// menu forwards each activation here and then shows the state this reports. Without a controller
// the device's items change nothing. Main thread only.
class MenuActions {
  public:
    // Both may be null; whatever is given outlives this object.
    MenuActions(PlayerWindowController *controller, Updater *updater);

    // The raw value of the size whose item is checked: the controller's size when the menu was
    // built and after each size choice. Nothing without a controller.
    const std::optional<std::string> &checkedSize() const noexcept { return checkedSize_; }
    // Off at start; after each toggle, whether hold is on.
    bool isHoldChecked() const noexcept { return holdChecked_; }
    // Where a slider starts: the controller's amount, else 1.0.
    double sliderStartValue(MenuAction slider) const noexcept;

    // A size item with its raw value; an unknown value does nothing.
    void setDeviceSize(std::string_view rawValue);
    // A slider moved to `value`. The value the slider must show afterwards (1.0 after a snap),
    // or nothing when it stays where the user put it.
    std::optional<double> sliderMoved(MenuAction slider, double value);
    void toggleHold();
    void checkForUpdates();

  private:
    void updateSizeCheckMarks();

    PlayerWindowController *controller_;
    Updater *updater_;
    std::optional<std::string> checkedSize_;
    bool holdChecked_ = false;
};

} // namespace wheelbox
