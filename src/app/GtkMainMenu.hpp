#pragma once

#include "app/MenuActions.hpp"
#include "app/MenuSlider.hpp"
#include "lib/glib/GLibPointers.hpp"
#include "lib/gtk/GtkPointers.hpp"

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <vector>

namespace wheelbox {

// The menu of mainMenu() on GTK: one application action per menu action, with the accelerators,
// installed as the application's menu for desktops that show one (without the sliders: a desktop's
// menu holds no widgets), and bodyMenu() as a popup with the sliders that the device shows on a
// secondary click. Every activation goes through MenuActions; the check marks then show what it
// reports. Main thread.
class GtkMainMenu {
  public:
    struct Handlers {
        std::function<void()> about;
        std::function<void()> quit;
    };

    GtkMainMenu(GtkApplication *application, MenuActions &actions, Handlers handlers);
    ~GtkMainMenu();
    GtkMainMenu(const GtkMainMenu &) = delete;
    GtkMainMenu &operator=(const GtkMainMenu &) = delete;

    // At the pointer, for the event being handled.
    void popUp();

    GtkMenu *popup() const noexcept { return GTK_MENU(popup_.get()); }

  private:
    struct PopupItem {
        GtkWidget *widget;
        MenuAction action;
        std::optional<std::string> target;
    };

    void addActions();
    void buildApplicationMenu();
    void buildPopup();
    void perform(MenuAction action, const std::optional<std::string> &target);
    // Shows MenuActions' check marks in both menus.
    void showState();

    static void onAction(GSimpleAction *action, GVariant *parameter, gpointer self);
    static void onPopupItem(GtkMenuItem *item, gpointer self);

    GtkApplication *application_;
    MenuActions &actions_;
    Handlers handlers_;
    std::vector<std::unique_ptr<MenuSlider>> sliders_;
    std::vector<PopupItem> popupItems_;
    // Destroyed before the sliders, whose widgets it holds.
    gtk::WidgetPtr popup_;
    bool showingState_ = false;
};

} // namespace wheelbox
