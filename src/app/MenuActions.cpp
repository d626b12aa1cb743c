#include "app/MenuActions.hpp"

#include "platform/Updater.hpp"
#include "window/DeviceSize.hpp"
#include "window/PlayerWindowController.hpp"

namespace wheelbox {

MenuActions::MenuActions(PlayerWindowController *controller, Updater *updater)
    : controller_(controller), updater_(updater)
{
    updateSizeCheckMarks();
}

double MenuActions::sliderStartValue(MenuAction slider) const noexcept
{
    if (!controller_)
        return 1.0;
    return slider == MenuAction::glareSliderMoved ? controller_->glareAmount() : controller_->shadowAmount();
}

void MenuActions::setDeviceSize(std::string_view rawValue)
{
    auto size = deviceSizeFromRawValue(rawValue);
    if (!size)
        return;
    if (controller_)
        controller_->applyDeviceSize(*size);
    // The size applied may be a smaller one that fits the screen: the mark follows the controller.
    updateSizeCheckMarks();
}

std::optional<double> MenuActions::sliderMoved(MenuAction slider, double value)
{
    if (!controller_)
        return std::nullopt;
    double sent = snappedSliderValue(value);
    if (slider == MenuAction::glareSliderMoved)
        controller_->applyGlareAmount(sent);
    else
        controller_->applyShadowAmount(sent);
    if (sent != value)
        return sent;
    return std::nullopt;
}

void MenuActions::toggleHold()
{
    if (controller_)
        controller_->applyHold(!controller_->isHoldEnabled());
    holdChecked_ = controller_ && controller_->isHoldEnabled();
}

void MenuActions::checkForUpdates()
{
    if (updater_)
        updater_->checkForUpdates();
}

void MenuActions::updateSizeCheckMarks()
{
    if (!controller_)
        return;
    checkedSize_ = std::string(rawValue(controller_->deviceSize()));
}

} // namespace wheelbox
