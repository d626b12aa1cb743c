#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <optional>
#include <string>

namespace wheelbox {

// A slider inside a menu item, from 0 to 2: continuous, its track filled in the accent colour up to
// the knob's centre, and a notch under the middle of the track, where 1 is. The menu item would
// take every press, drag and release for itself (its input window lies over the slider), so it
// hands them to the slider. Main thread; the widgets belong to the menu the item is added to.
class MenuSlider {
  public:
    // `moved` gets every value while the user drags and returns the value to show instead (the
    // snap to 1), if any.
    MenuSlider(const std::string &label, double value, std::function<std::optional<double>(double)> moved);
    MenuSlider(const MenuSlider &) = delete;
    MenuSlider &operator=(const MenuSlider &) = delete;

    GtkWidget *item() const noexcept { return item_; }
    GtkWidget *scale() const noexcept { return scale_; }

    // The notch's rectangle for a track rectangle (GTK's coordinates, y downwards).
    static GdkRectangle notch(const GdkRectangle &track);

  private:
    static void onValueChanged(GtkRange *range, gpointer self);
    static gboolean onDraw(GtkWidget *widget, cairo_t *cairo, gpointer self);
    static gboolean onItemEvent(GtkWidget *item, GdkEvent *event, gpointer self);

    std::function<std::optional<double>(double)> moved_;
    GtkWidget *item_;
    GtkWidget *scale_;
    bool settingValue_ = false;
};

} // namespace wheelbox
