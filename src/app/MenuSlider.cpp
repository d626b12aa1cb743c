#include "app/MenuSlider.hpp"

#include "app/MenuModel.hpp"

#include <cmath>

namespace wheelbox {
namespace {

// The slider's place in its item, as the desktop menus lay one out: 200 wide, 26 high, inset 22
// on the leading side and 14 on the trailing one.
constexpr int itemWidth = 200;
constexpr int itemHeight = 26;
constexpr int leadingInset = 22;
constexpr int trailingInset = 14;

void roundedRectangle(cairo_t *cairo, double x, double y, double width, double height, double radius)
{
    radius = std::min({radius, width / 2, height / 2});
    cairo_new_sub_path(cairo);
    cairo_arc(cairo, x + width - radius, y + radius, radius, -M_PI / 2, 0);
    cairo_arc(cairo, x + width - radius, y + height - radius, radius, 0, M_PI / 2);
    cairo_arc(cairo, x + radius, y + height - radius, radius, M_PI / 2, M_PI);
    cairo_arc(cairo, x + radius, y + radius, radius, M_PI, 3 * M_PI / 2);
    cairo_close_path(cairo);
}

// A slider's item is never highlighted: the highlight would hide the filled track.
void addStyle()
{
    static bool added = false;
    if (added)
        return;
    added = true;
    GtkCssProvider *provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider,
                                    "menuitem.wheelbox-slider, menuitem.wheelbox-slider:hover {"
                                    " background: none; box-shadow: none; }",
                                    -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

} // namespace

MenuSlider::MenuSlider(const std::string &label, double value,
                       std::function<std::optional<double>(double)> moved)
    : moved_(std::move(moved))
{
    addStyle();
    item_ = gtk_menu_item_new();
    scale_ = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, sliderMinimum, sliderMaximum, 0.01);
    gtk_scale_set_draw_value(GTK_SCALE(scale_), FALSE);
    // The theme fills the track from its start to the knob's centre in the accent colour.
    gtk_scale_set_has_origin(GTK_SCALE(scale_), TRUE);
    gtk_range_set_increments(GTK_RANGE(scale_), 0.05, 0.25);
    gtk_range_set_value(GTK_RANGE(scale_), value);
    gtk_widget_set_size_request(scale_, itemWidth - leadingInset - trailingInset, -1);
    gtk_widget_set_margin_start(scale_, leadingInset);
    gtk_widget_set_margin_end(scale_, trailingInset);
    gtk_widget_set_valign(scale_, GTK_ALIGN_CENTER);
    // Room under the scale for the notch.
    gtk_widget_set_margin_bottom(scale_, 7);
    gtk_widget_set_size_request(item_, itemWidth, itemHeight);
    gtk_widget_set_tooltip_text(scale_, nullptr);
    atk_object_set_name(gtk_widget_get_accessible(scale_), label.c_str());
    gtk_container_add(GTK_CONTAINER(item_), scale_);
    gtk_widget_show_all(item_);

    g_signal_connect(scale_, "value-changed", G_CALLBACK(&MenuSlider::onValueChanged), this);
    g_signal_connect_after(item_, "draw", G_CALLBACK(&MenuSlider::onDraw), this);
    gtk_style_context_add_class(gtk_widget_get_style_context(item_), "wheelbox-slider");
    for (const char *signal : {"button-press-event", "button-release-event", "motion-notify-event"})
        g_signal_connect(item_, signal, G_CALLBACK(&MenuSlider::onItemEvent), this);
}

GdkRectangle MenuSlider::notch(const GdkRectangle &track)
{
    // 2 wide, 4.5 high, centred on the track's middle, 1.5 below the track; whole pixels.
    double middle = track.x + track.width / 2.0;
    return GdkRectangle{static_cast<int>(std::lround(middle - 1)),
                        static_cast<int>(std::lround(track.y + track.height + 1.5)), 2, 5};
}

void MenuSlider::onValueChanged(GtkRange *range, gpointer data)
{
    auto *self = static_cast<MenuSlider *>(data);
    if (self->settingValue_ || !self->moved_)
        return;
    if (auto shown = self->moved_(gtk_range_get_value(range))) {
        self->settingValue_ = true;
        gtk_range_set_value(range, *shown);
        self->settingValue_ = false;
    }
}

gboolean MenuSlider::onDraw(GtkWidget *item, cairo_t *cairo, gpointer data)
{
    auto *self = static_cast<MenuSlider *>(data);
    GdkRectangle track{};
    gtk_range_get_range_rect(GTK_RANGE(self->scale_), &track);
    GtkAllocation scale{};
    gtk_widget_get_allocation(self->scale_, &scale);
    int x = 0;
    int y = 0;
    if (track.width <= 0 || !gtk_widget_translate_coordinates(self->scale_, item, 0, 0, &x, &y))
        return FALSE;
    // GTK's knob stands over the whole height of the scale, so the notch goes under the scale,
    // where the knob never covers it.
    GdkRectangle under{x + track.x, y, track.width, scale.height};
    GdkRectangle mark = notch(under);
    GdkRGBA colour{};
    gtk_style_context_get_color(gtk_widget_get_style_context(self->scale_), GTK_STATE_FLAG_INSENSITIVE,
                                &colour);
    gdk_cairo_set_source_rgba(cairo, &colour);
    roundedRectangle(cairo, mark.x, mark.y, 2, 4.5, 1);
    cairo_fill(cairo);
    return FALSE;
}

gboolean MenuSlider::onItemEvent(GtkWidget *, GdkEvent *event, gpointer data)
{
    auto *self = static_cast<MenuSlider *>(data);
    // The scale's gestures place an event by the widget that received it, so a copy handed over
    // as it is lands where the pointer is.
    GdkEvent *copy = gdk_event_copy(event);
    gtk_widget_event(self->scale_, copy);
    gdk_event_free(copy);
    return TRUE;
}

} // namespace wheelbox
