#pragma once

#include <cairo.h>
#include <gtk/gtk.h>

#include <memory>

// One owner per GTK-side handle that is not a GObject (GObjects use glib::ObjectPtr).
namespace wheelbox::gtk {

struct CairoSurfaceDeleter {
    void operator()(cairo_surface_t *surface) const noexcept { cairo_surface_destroy(surface); }
};
using CairoSurfacePtr = std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter>;

struct CairoRegionDeleter {
    void operator()(cairo_region_t *region) const noexcept { cairo_region_destroy(region); }
};
using CairoRegionPtr = std::unique_ptr<cairo_region_t, CairoRegionDeleter>;

// A widget kept alive by a reference of ours, whoever else holds it (a container, GTK's list of
// toplevels). Destroying the owner destroys the widget.
struct WidgetDeleter {
    void operator()(GtkWidget *widget) const noexcept
    {
        gtk_widget_destroy(widget);
        g_object_unref(widget);
    }
};
using WidgetPtr = std::unique_ptr<GtkWidget, WidgetDeleter>;

// Takes a new widget (floating or a toplevel) into a WidgetPtr.
inline WidgetPtr adoptWidget(GtkWidget *widget)
{
    return WidgetPtr(GTK_WIDGET(g_object_ref_sink(widget)));
}

} // namespace wheelbox::gtk
