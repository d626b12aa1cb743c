#include "app/MenuModel.hpp"

#include "window/DeviceSize.hpp"

#include <cmath>

namespace wheelbox {
namespace {

MenuItem action(std::string title, MenuAction what, std::string accelerator = {})
{
    return MenuItem{MenuItem::Kind::action, std::move(title),       what,
                    std::nullopt,           std::move(accelerator), false};
}

MenuItem separator()
{
    return MenuItem{MenuItem::Kind::separator, {}, std::nullopt, std::nullopt, {}, false};
}

MenuItem header(std::string title)
{
    return MenuItem{MenuItem::Kind::sectionHeader, std::move(title), std::nullopt, std::nullopt, {}, false};
}

MenuItem slider(std::string label, MenuAction what)
{
    return MenuItem{MenuItem::Kind::slider, std::move(label), what, std::nullopt, {}, false};
}

std::vector<Menu> build()
{
    Menu application{"",
                     {action("About Wheelbox", MenuAction::about), separator(),
                      action("Check for Updates\u2026", MenuAction::checkForUpdates), separator(),
                      action("Quit Wheelbox", MenuAction::quit, "<Primary>q")}};

    Menu view{"View", {}};
    // In the order of the sizes, largest first; the key is the size's rank from the smallest.
    const char *titles[] = {"Large", "Medium", "Small", "Tiny"};
    for (std::size_t index = 0; index < allDeviceSizes.size(); ++index) {
        DeviceSize size = allDeviceSizes[index];
        std::string key = std::to_string(allDeviceSizes.size() - index);
        view.items.push_back(MenuItem{MenuItem::Kind::action, titles[index], MenuAction::setDeviceSize,
                                      std::string(rawValue(size)), "<Primary>" + key, true});
    }
    view.items.push_back(separator());
    view.items.push_back(header("Glare"));
    view.items.push_back(slider("Glare", MenuAction::glareSliderMoved));
    view.items.push_back(header("Shadow"));
    view.items.push_back(slider("Shadow", MenuAction::shadowSliderMoved));

    MenuItem hold = action("Hold", MenuAction::toggleHold, "<Alt>h");
    hold.checkable = true;
    Menu controls{"Controls", {hold}};

    return {application, view, controls};
}

std::vector<MenuItem> buildBodyMenu()
{
    std::vector<MenuItem> items;
    std::optional<MenuItem> quit;
    for (const Menu &menu : mainMenu()) {
        if (!menu.title.empty()) {
            items.push_back(separator());
            items.push_back(
                MenuItem{MenuItem::Kind::title, menu.title, std::nullopt, std::nullopt, {}, false});
        }
        // The bar lists the sizes largest first, in the sizes' own order; a popup read top down
        // is clearer smallest first, its keys then counting up.
        std::vector<MenuItem> sizes;
        auto addSizes = [&] {
            items.insert(items.end(), sizes.rbegin(), sizes.rend());
            sizes.clear();
        };
        for (const MenuItem &item : menu.items) {
            if (item.action == MenuAction::quit) {
                quit = item;
                continue;
            }
            if (item.action == MenuAction::setDeviceSize) {
                sizes.push_back(item);
                continue;
            }
            addSizes();
            items.push_back(item);
        }
        addSizes();
    }
    if (quit) {
        items.push_back(separator());
        items.push_back(*quit);
    }
    // No separator first, last or after another.
    std::vector<MenuItem> tidy;
    for (const MenuItem &item : items) {
        bool isSeparator = item.kind == MenuItem::Kind::separator;
        if (isSeparator && (tidy.empty() || tidy.back().kind == MenuItem::Kind::separator))
            continue;
        tidy.push_back(item);
    }
    if (!tidy.empty() && tidy.back().kind == MenuItem::Kind::separator)
        tidy.pop_back();
    return tidy;
}

} // namespace

const std::vector<Menu> &mainMenu()
{
    static const std::vector<Menu> menus = build();
    return menus;
}

const std::vector<MenuItem> &bodyMenu()
{
    static const std::vector<MenuItem> items = buildBodyMenu();
    return items;
}

std::string_view actionName(MenuAction action) noexcept
{
    switch (action) {
    case MenuAction::about:
        return "about";
    case MenuAction::checkForUpdates:
        return "check-for-updates";
    case MenuAction::quit:
        return "quit";
    case MenuAction::setDeviceSize:
        return "device-size";
    case MenuAction::glareSliderMoved:
        return "glare";
    case MenuAction::shadowSliderMoved:
        return "shadow";
    case MenuAction::toggleHold:
        return "hold";
    }
    return "";
}

double snappedSliderValue(double value) noexcept
{
    return std::fabs(value - 1.0) < sliderSnapDistance ? 1.0 : value;
}

} // namespace wheelbox
