#include "app/GtkMainMenu.hpp"

#include <algorithm>

namespace wheelbox {
namespace {

constexpr MenuAction allActions[] = {
    MenuAction::about,         MenuAction::checkForUpdates,  MenuAction::quit,
    MenuAction::setDeviceSize, MenuAction::glareSliderMoved, MenuAction::shadowSliderMoved,
    MenuAction::toggleHold};

std::string detailedName(MenuAction action, const std::optional<std::string> &target)
{
    std::string name = "app." + std::string(actionName(action));
    if (target)
        name += "::" + *target;
    return name;
}

GSimpleAction *findAction(GtkApplication *application, MenuAction action)
{
    return G_SIMPLE_ACTION(
        g_action_map_lookup_action(G_ACTION_MAP(application), std::string(actionName(action)).c_str()));
}

} // namespace

GtkMainMenu::GtkMainMenu(GtkApplication *application, MenuActions &actions, Handlers handlers)
    : application_(application), actions_(actions), handlers_(std::move(handlers))
{
    addActions();
    buildApplicationMenu();
    buildPopup();
    showState();
}

GtkMainMenu::~GtkMainMenu()
{
    popup_.reset();
    for (MenuAction action : allActions)
        g_action_map_remove_action(G_ACTION_MAP(application_), std::string(actionName(action)).c_str());
    gtk_application_set_menubar(application_, nullptr);
}

void GtkMainMenu::addActions()
{
    for (MenuAction action : allActions) {
        std::string name(actionName(action));
        GSimpleAction *made = nullptr;
        switch (action) {
        case MenuAction::setDeviceSize:
            // The size item whose target is the state shows the mark.
            made =
                g_simple_action_new_stateful(name.c_str(), G_VARIANT_TYPE_STRING, g_variant_new_string(""));
            break;
        case MenuAction::toggleHold:
            made = g_simple_action_new_stateful(name.c_str(), nullptr, g_variant_new_boolean(FALSE));
            break;
        case MenuAction::glareSliderMoved:
        case MenuAction::shadowSliderMoved:
            made = g_simple_action_new(name.c_str(), G_VARIANT_TYPE_DOUBLE);
            break;
        default:
            made = g_simple_action_new(name.c_str(), nullptr);
            break;
        }
        g_object_set_data(G_OBJECT(made), "wheelbox-menu-action",
                          GINT_TO_POINTER(static_cast<int>(action) + 1));
        g_signal_connect(made, "activate", G_CALLBACK(&GtkMainMenu::onAction), this);
        g_action_map_add_action(G_ACTION_MAP(application_), G_ACTION(made));
        g_object_unref(made);
    }
    for (const Menu &menu : mainMenu()) {
        for (const MenuItem &item : menu.items) {
            if (item.action && !item.accelerator.empty()) {
                const char *accelerators[] = {item.accelerator.c_str(), nullptr};
                gtk_application_set_accels_for_action(
                    application_, detailedName(*item.action, item.target).c_str(), accelerators);
            }
        }
    }
}

void GtkMainMenu::buildApplicationMenu()
{
    glib::ObjectPtr<GMenu> bar(g_menu_new());
    for (const Menu &menu : mainMenu()) {
        glib::ObjectPtr<GMenu> submenu(g_menu_new());
        glib::ObjectPtr<GMenu> section(g_menu_new());
        for (const MenuItem &item : menu.items) {
            if (item.kind == MenuItem::Kind::separator) {
                if (g_menu_model_get_n_items(G_MENU_MODEL(section.get())) > 0)
                    g_menu_append_section(submenu.get(), nullptr, G_MENU_MODEL(section.get()));
                section.reset(g_menu_new());
            } else if (item.kind == MenuItem::Kind::action) {
                glib::ObjectPtr<GMenuItem> entry(
                    g_menu_item_new(item.title.c_str(), detailedName(*item.action, item.target).c_str()));
                if (!item.accelerator.empty())
                    g_menu_item_set_attribute(entry.get(), "accel", "s", item.accelerator.c_str());
                g_menu_append_item(section.get(), entry.get());
            }
        }
        if (g_menu_model_get_n_items(G_MENU_MODEL(section.get())) > 0)
            g_menu_append_section(submenu.get(), nullptr, G_MENU_MODEL(section.get()));
        g_menu_append_submenu(bar.get(), menu.title.empty() ? "Wheelbox" : menu.title.c_str(),
                              G_MENU_MODEL(submenu.get()));
    }
    gtk_application_set_menubar(application_, G_MENU_MODEL(bar.get()));
}

void GtkMainMenu::buildPopup()
{
    popup_ = gtk::adoptWidget(gtk_menu_new());
    for (const MenuItem &item : bodyMenu()) {
        GtkWidget *widget = nullptr;
        switch (item.kind) {
        case MenuItem::Kind::separator:
            widget = gtk_separator_menu_item_new();
            break;
        case MenuItem::Kind::title: {
            // A merged menu's title, above its items: bold, and nothing to choose.
            widget = gtk_menu_item_new_with_label("");
            GtkLabel *label = GTK_LABEL(gtk_bin_get_child(GTK_BIN(widget)));
            char *markup = g_markup_printf_escaped("<b>%s</b>", item.title.c_str());
            gtk_label_set_markup(label, markup);
            g_free(markup);
            gtk_widget_set_sensitive(widget, FALSE);
            break;
        }
        case MenuItem::Kind::sectionHeader:
            widget = gtk_menu_item_new_with_label(item.title.c_str());
            gtk_widget_set_sensitive(widget, FALSE);
            break;
        case MenuItem::Kind::slider: {
            MenuAction action = *item.action;
            auto slider = std::make_unique<MenuSlider>(
                item.title, actions_.sliderStartValue(action),
                [this, action](double value) { return actions_.sliderMoved(action, value); });
            widget = slider->item();
            sliders_.push_back(std::move(slider));
            break;
        }
        case MenuItem::Kind::action: {
            widget = item.checkable ? gtk_check_menu_item_new_with_label(item.title.c_str())
                                    : gtk_menu_item_new_with_label(item.title.c_str());
            guint key = 0;
            GdkModifierType modifiers{};
            if (!item.accelerator.empty())
                gtk_accelerator_parse(item.accelerator.c_str(), &key, &modifiers);
            if (key)
                gtk_accel_label_set_accel(GTK_ACCEL_LABEL(gtk_bin_get_child(GTK_BIN(widget))), key,
                                          modifiers);
            popupItems_.push_back({widget, *item.action, item.target});
            g_signal_connect(widget, "activate", G_CALLBACK(&GtkMainMenu::onPopupItem), this);
            break;
        }
        }
        gtk_widget_show(widget);
        gtk_menu_shell_append(GTK_MENU_SHELL(popup_.get()), widget);
    }
    gtk_widget_show_all(popup_.get());
}

void GtkMainMenu::popUp()
{
    showState();
    GdkEvent *event = gtk_get_current_event();
    gtk_menu_popup_at_pointer(GTK_MENU(popup_.get()), event);
    if (event)
        gdk_event_free(event);
}

void GtkMainMenu::perform(MenuAction action, const std::optional<std::string> &target)
{
    switch (action) {
    case MenuAction::about:
        if (handlers_.about)
            handlers_.about();
        break;
    case MenuAction::checkForUpdates:
        actions_.checkForUpdates();
        break;
    case MenuAction::quit:
        if (handlers_.quit)
            handlers_.quit();
        return;
    case MenuAction::setDeviceSize:
        if (target)
            actions_.setDeviceSize(*target);
        break;
    case MenuAction::toggleHold:
        actions_.toggleHold();
        break;
    case MenuAction::glareSliderMoved:
    case MenuAction::shadowSliderMoved:
        break;
    }
    showState();
}

void GtkMainMenu::showState()
{
    showingState_ = true;
    const auto &size = actions_.checkedSize();
    g_simple_action_set_state(findAction(application_, MenuAction::setDeviceSize),
                              g_variant_new_string(size ? size->c_str() : ""));
    g_simple_action_set_state(findAction(application_, MenuAction::toggleHold),
                              g_variant_new_boolean(actions_.isHoldChecked()));
    for (const PopupItem &item : popupItems_) {
        if (!GTK_IS_CHECK_MENU_ITEM(item.widget))
            continue;
        bool checked = item.action == MenuAction::toggleHold ? actions_.isHoldChecked()
                                                             : (item.target && size && *item.target == *size);
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item.widget), checked);
    }
    showingState_ = false;
}

void GtkMainMenu::onAction(GSimpleAction *action, GVariant *parameter, gpointer data)
{
    auto *self = static_cast<GtkMainMenu *>(data);
    auto which = static_cast<MenuAction>(
        GPOINTER_TO_INT(g_object_get_data(G_OBJECT(action), "wheelbox-menu-action")) - 1);
    std::optional<std::string> target;
    if (parameter && g_variant_is_of_type(parameter, G_VARIANT_TYPE_STRING))
        target = g_variant_get_string(parameter, nullptr);
    if (parameter && g_variant_is_of_type(parameter, G_VARIANT_TYPE_DOUBLE)) {
        self->actions_.sliderMoved(which, g_variant_get_double(parameter));
        return;
    }
    self->perform(which, target);
}

void GtkMainMenu::onPopupItem(GtkMenuItem *widget, gpointer data)
{
    auto *self = static_cast<GtkMainMenu *>(data);
    if (self->showingState_)
        return;
    auto found = std::find_if(self->popupItems_.begin(), self->popupItems_.end(),
                              [widget](const PopupItem &item) { return item.widget == GTK_WIDGET(widget); });
    if (found == self->popupItems_.end())
        return;
    // Through the application's action, as the desktop's menu and the accelerators go.
    g_action_group_activate_action(G_ACTION_GROUP(self->application_),
                                   std::string(actionName(found->action)).c_str(),
                                   found->target ? g_variant_new_string(found->target->c_str()) : nullptr);
}

} // namespace wheelbox
