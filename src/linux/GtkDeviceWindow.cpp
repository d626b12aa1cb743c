#include "linux/GtkDeviceWindow.hpp"

#include "linux/WebKitDeviceWebView.hpp"
#include "window/WheelHitTest.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace wheelbox {
namespace {

constexpr double statusWidthFraction = 0.72;

constexpr const char *styleSheet = R"(
.wheelbox-status {
    font-size: 12px;
    font-weight: 500;
    color: rgba(128, 128, 128, 0.9);
}
)";

// A snapshot in a GtkImage laid over the web view. The image keeps a reference of ours, so the
// overlay may outlive the window.
class GtkResizeOverlay final : public ResizeOverlay {
  public:
    explicit GtkResizeOverlay(GtkWidget *image) : image_(GTK_WIDGET(g_object_ref_sink(image))) {}
    ~GtkResizeOverlay() override
    {
        if (tick_)
            gtk_widget_remove_tick_callback(image_, tick_);
        if (finishing_)
            g_source_remove(finishing_);
        if (GtkWidget *parent = gtk_widget_get_parent(image_))
            gtk_container_remove(GTK_CONTAINER(parent), image_);
        g_object_unref(image_);
    }

    void setOrigin(Point origin) override
    {
        origin_ = origin;
        if (GtkWidget *parent = gtk_widget_get_parent(image_))
            gtk_widget_queue_resize(parent);
    }

    Point origin() const noexcept { return origin_; }
    GtkWidget *image() const noexcept { return image_; }

    // Fades the image out on the frame clock; `done` runs once the fade is over.
    void fadeOut(std::chrono::nanoseconds duration, std::function<void()> done)
    {
        duration_ = duration;
        done_ = std::move(done);
        tick_ = gtk_widget_add_tick_callback(image_, &GtkResizeOverlay::onTick, this, nullptr);
    }

  private:
    static gboolean onTick(GtkWidget *image, GdkFrameClock *clock, gpointer data)
    {
        auto *self = static_cast<GtkResizeOverlay *>(data);
        gint64 now = gdk_frame_clock_get_frame_time(clock);
        if (self->fadeStart_ < 0)
            self->fadeStart_ = now;
        double elapsed = double(now - self->fadeStart_) * 1000.0;
        double progress = self->duration_.count() > 0 ? elapsed / double(self->duration_.count()) : 1.0;
        gtk_widget_set_opacity(image, std::max(0.0, 1.0 - progress));
        if (progress < 1.0)
            return G_SOURCE_CONTINUE;
        self->tick_ = 0;
        // Not from inside the widget's own tick: `done` destroys this object and the image.
        self->finishing_ = g_idle_add(&GtkResizeOverlay::onFinished, self);
        return G_SOURCE_REMOVE;
    }

    static gboolean onFinished(gpointer data)
    {
        auto *self = static_cast<GtkResizeOverlay *>(data);
        self->finishing_ = 0;
        auto done = std::move(self->done_);
        done(); // destroys this object
        return G_SOURCE_REMOVE;
    }

    GtkWidget *image_;
    Point origin_;
    std::chrono::nanoseconds duration_{};
    gint64 fadeStart_ = -1;
    guint tick_ = 0;
    guint finishing_ = 0;
    std::function<void()> done_;
};

// The body as whole pixels of a window of that size: those whose centre lies inside it.
gtk::CairoRegionPtr bodyRegion(int width, int height)
{
    BodyOutline body = bodyOutline({double(width), double(height)});
    gtk::CairoSurfacePtr mask(cairo_image_surface_create(CAIRO_FORMAT_A1, width, height));
    cairo_t *cairo = cairo_create(mask.get());
    cairo_set_antialias(cairo, CAIRO_ANTIALIAS_NONE);
    double left = body.frame.minX();
    double top = body.frame.minY();
    double right = body.frame.maxX();
    double bottom = body.frame.maxY();
    double radius = std::min({body.cornerRadius, body.frame.size.width / 2, body.frame.size.height / 2});
    cairo_new_sub_path(cairo);
    cairo_arc(cairo, right - radius, top + radius, radius, -M_PI / 2, 0);
    cairo_arc(cairo, right - radius, bottom - radius, radius, 0, M_PI / 2);
    cairo_arc(cairo, left + radius, bottom - radius, radius, M_PI / 2, M_PI);
    cairo_arc(cairo, left + radius, top + radius, radius, M_PI, 3 * M_PI / 2);
    cairo_close_path(cairo);
    cairo_fill(cairo);
    cairo_destroy(cairo);
    cairo_surface_flush(mask.get());
    return gtk::CairoRegionPtr(gdk_cairo_region_create_from_surface(mask.get()));
}

} // namespace

GtkDeviceWindow::GtkDeviceWindow(const GdkScreens &screens, const DeviceWindowSetup &setup,
                                 GtkWidget *webView)
    : screens_(screens), window_(gtk::adoptWidget(gtk_window_new(GTK_WINDOW_TOPLEVEL))),
      contentShown_(setup.contentShown)
{
    GtkWindow *window = gtkWindow();
    gtk_window_set_title(window, "Wheelbox");
    gtk_window_set_decorated(window, FALSE);
    gtk_widget_set_app_paintable(window_.get(), TRUE);
    if (GdkVisual *visual = gdk_screen_get_rgba_visual(gtk_widget_get_screen(window_.get())))
        gtk_widget_set_visual(window_.get(), visual);
    // The smallest and largest device windows the program knows, as whole pixels.
    GdkGeometry limits{};
    limits.min_width = 164;
    limits.min_height = 269;
    limits.max_width = 700;
    limits.max_height = 1150;
    gtk_window_set_geometry_hints(window, nullptr, &limits,
                                  GdkWindowHints(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE | GDK_HINT_USER_POS));
    gtk_window_set_default_size(window, int(setup.contentSize.width), int(setup.contentSize.height));
    gtk_window_stick(window);
    setLevel(setup.level);
    gtk_widget_add_events(window_.get(), GDK_STRUCTURE_MASK | GDK_VISIBILITY_NOTIFY_MASK);

    // Once per process: the screen keeps the provider for every later window.
    static bool styled = false;
    if (!styled) {
        styled = true;
        GtkCssProvider *css = gtk_css_provider_new();
        gtk_css_provider_load_from_data(css, styleSheet, -1, nullptr);
        gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window_.get()),
                                                  GTK_STYLE_PROVIDER(css),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        g_object_unref(css);
    }

    overlay_ = gtk_overlay_new();
    gtk_container_add(GTK_CONTAINER(overlay_), webView);
    label_ = gtk_label_new("");
    gtk_style_context_add_class(gtk_widget_get_style_context(label_), "wheelbox-status");
    gtk_label_set_justify(GTK_LABEL(label_), GTK_JUSTIFY_CENTER);
    gtk_label_set_line_wrap(GTK_LABEL(label_), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(label_), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_lines(GTK_LABEL(label_), 3);
    gtk_label_set_ellipsize(GTK_LABEL(label_), PANGO_ELLIPSIZE_END);
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay_), label_);
    gtk_overlay_set_overlay_pass_through(GTK_OVERLAY(overlay_), label_, TRUE);
    gtk_container_add(GTK_CONTAINER(window_.get()), overlay_);
    gtk_widget_show(webView);
    gtk_widget_show(overlay_);
    gtk_widget_grab_focus(webView);

    g_signal_connect(window_.get(), "draw", G_CALLBACK(&GtkDeviceWindow::onDraw), this);
    g_signal_connect(window_.get(), "configure-event", G_CALLBACK(&GtkDeviceWindow::onConfigure), this);
    g_signal_connect(window_.get(), "delete-event", G_CALLBACK(&GtkDeviceWindow::onDelete), this);
    g_signal_connect(window_.get(), "window-state-event", G_CALLBACK(&GtkDeviceWindow::onWindowState), this);
    g_signal_connect(window_.get(), "visibility-notify-event", G_CALLBACK(&GtkDeviceWindow::onVisibility),
                     this);
    g_signal_connect(overlay_, "get-child-position", G_CALLBACK(&GtkDeviceWindow::onChildPosition), this);
    screen_ = gtk_widget_get_screen(window_.get());
    composited_ = gdk_screen_is_composited(screen_);
    g_signal_connect(screen_, "composited-changed", G_CALLBACK(&GtkDeviceWindow::onCompositedChanged), this);

    setFrame({{0, 0}, setup.contentSize}, Redisplay::no);
    applyShape(int(setup.contentSize.width), int(setup.contentSize.height));
}

GtkDeviceWindow::~GtkDeviceWindow()
{
    fading_.clear();
    g_signal_handlers_disconnect_by_data(screen_, this);
    g_signal_handlers_disconnect_by_data(window_.get(), this);
    g_signal_handlers_disconnect_by_data(overlay_, this);
}

void GtkDeviceWindow::showContent()
{
    if (contentShown_)
        return;
    contentShown_ = true;
    int width = 0;
    int height = 0;
    gtk_window_get_size(gtkWindow(), &width, &height);
    applyShape(width, height);
}

void GtkDeviceWindow::applyShape(int width, int height)
{
    GtkWidget *widget = window_.get();
    if (!contentShown_) {
        // One pixel of the margin, not nothing: X reports a window shaped to nothing as fully
        // obscured, and WebKit then stops drawing the page this waits for.
        cairo_rectangle_int_t corner{0, 0, 1, 1};
        gtk::CairoRegionPtr dot(cairo_region_create_rectangle(&corner));
        gtk::CairoRegionPtr nothing(cairo_region_create());
        gtk_widget_shape_combine_region(widget, dot.get());
        gtk_widget_input_shape_combine_region(widget, nothing.get());
        shapedSize_.reset();
        return;
    }
    if (composited_ || width <= 0 || height <= 0) {
        gtk_widget_shape_combine_region(widget, nullptr);
        gtk_widget_input_shape_combine_region(widget, nullptr);
        shapedSize_.reset();
        return;
    }
    if (shapedSize_ == std::pair{width, height})
        return;
    auto body = bodyRegion(width, height);
    gtk_widget_shape_combine_region(widget, body.get());
    gtk_widget_input_shape_combine_region(widget, body.get());
    shapedSize_ = std::pair{width, height};
}

void GtkDeviceWindow::onCompositedChanged(GdkScreen *screen, gpointer data)
{
    auto *self = static_cast<GtkDeviceWindow *>(data);
    self->composited_ = gdk_screen_is_composited(screen);
    int width = 0;
    int height = 0;
    gtk_window_get_size(self->gtkWindow(), &width, &height);
    self->applyShape(width, height);
}

void GtkDeviceWindow::setLevel(int level)
{
    level_ = level;
    gtk_window_set_keep_above(gtkWindow(), level == floatingWindowLevel);
}

bool GtkDeviceWindow::isVisibleOnScreen() const
{
    return gtk_widget_get_mapped(window_.get()) && !iconified_ && !obscured_;
}

void GtkDeviceWindow::setFrame(const Rect &frame, Redisplay redisplay)
{
    GdkRectangle target = screens_.toDisplay(frame);
    gtk_window_move(gtkWindow(), target.x, target.y);
    gtk_window_resize(gtkWindow(), target.width, target.height);
    if (redisplay == Redisplay::yes)
        gtk_widget_queue_draw(window_.get());
    Rect applied = screens_.toScreenPoints(target);
    bool changed = applied != frame_;
    frame_ = applied;
    if (changed && delegate_)
        delegate_->windowFrameDidChange();
}

void GtkDeviceWindow::show()
{
    gtk_widget_show(window_.get());
    gtk_window_present(gtkWindow());
}

void GtkDeviceWindow::makeKeyAndOrderFront()
{
    show();
}

void GtkDeviceWindow::showStatusText(const std::string &text)
{
    // Pango limits the lines of each paragraph; a line separator (U+2028) breaks the line but keeps
    // one paragraph, so the three-line limit holds for the whole text.
    std::string oneParagraph;
    for (char c : text)
        oneParagraph += c == '\n' ? std::string("\u2028") : std::string(1, c);
    gtk_label_set_text(GTK_LABEL(label_), oneParagraph.c_str());
    gtk_widget_show(label_);
}

void GtkDeviceWindow::hideStatusText()
{
    gtk_widget_hide(label_);
}

std::unique_ptr<ResizeOverlay> GtkDeviceWindow::addResizeOverlay(std::unique_ptr<Snapshot> snapshot)
{
    auto *picture = dynamic_cast<WebKitSnapshot *>(snapshot.get());
    if (!picture || !picture->surface())
        return nullptr;
    auto overlay = std::make_unique<GtkResizeOverlay>(gtk_image_new_from_surface(picture->surface()));
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay_), overlay->image());
    // Directly above the web view, under the status label.
    gtk_overlay_reorder_overlay(GTK_OVERLAY(overlay_), overlay->image(), 0);
    gtk_overlay_set_overlay_pass_through(GTK_OVERLAY(overlay_), overlay->image(), TRUE);
    g_object_set_data(G_OBJECT(overlay->image()), "wheelbox-overlay", overlay.get());
    gtk_widget_show(overlay->image());
    return overlay;
}

void GtkDeviceWindow::fadeOutAndRemove(std::unique_ptr<ResizeOverlay> overlay,
                                       std::chrono::nanoseconds duration)
{
    auto *fading = dynamic_cast<GtkResizeOverlay *>(overlay.get());
    if (!fading)
        return;
    fading_.push_back(std::move(overlay));
    auto position = std::prev(fading_.end());
    fading->fadeOut(duration, [this, position] { fading_.erase(position); });
}

gboolean GtkDeviceWindow::onDraw(GtkWidget *, cairo_t *cairo, gpointer)
{
    // The window paints nothing of its own: what the page leaves transparent stays transparent.
    cairo_save(cairo);
    cairo_set_source_rgba(cairo, 0, 0, 0, 0);
    cairo_set_operator(cairo, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cairo);
    cairo_restore(cairo);
    return FALSE;
}

gboolean GtkDeviceWindow::onConfigure(GtkWidget *widget, GdkEventConfigure *event, gpointer data)
{
    auto *self = static_cast<GtkDeviceWindow *>(data);
    int x = 0;
    int y = 0;
    gtk_window_get_position(GTK_WINDOW(widget), &x, &y);
    Rect now = self->screens_.toScreenPoints({x, y, event->width, event->height});
    self->applyShape(event->width, event->height);
    if (now != self->frame_) {
        self->frame_ = now;
        if (self->delegate_)
            self->delegate_->windowFrameDidChange();
    }
    return FALSE;
}

gboolean GtkDeviceWindow::onDelete(GtkWidget *widget, GdkEvent *, gpointer data)
{
    auto *self = static_cast<GtkDeviceWindow *>(data);
    gtk_widget_hide(widget);
    if (self->delegate_)
        self->delegate_->windowDidClose();
    return TRUE; // hidden, never destroyed: the controller owns it
}

gboolean GtkDeviceWindow::onWindowState(GtkWidget *, GdkEventWindowState *event, gpointer data)
{
    static_cast<GtkDeviceWindow *>(data)->iconified_ =
        (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
    return FALSE;
}

gboolean GtkDeviceWindow::onVisibility(GtkWidget *, GdkEventVisibility *event, gpointer data)
{
    static_cast<GtkDeviceWindow *>(data)->obscured_ = event->state == GDK_VISIBILITY_FULLY_OBSCURED;
    return FALSE;
}

gboolean GtkDeviceWindow::onChildPosition(GtkOverlay *overlay, GtkWidget *child, GdkRectangle *allocation,
                                          gpointer data)
{
    auto *self = static_cast<GtkDeviceWindow *>(data);
    int width = gtk_widget_get_allocated_width(GTK_WIDGET(overlay));
    int height = gtk_widget_get_allocated_height(GTK_WIDGET(overlay));
    if (child == self->label_) {
        int natural = 0;
        int minimum = 0;
        gtk_widget_get_preferred_width(child, &minimum, &natural);
        int labelWidth = std::max(minimum, std::min(natural, int(std::floor(width * statusWidthFraction))));
        int labelHeight = 0;
        gtk_widget_get_preferred_height_for_width(child, labelWidth, &minimum, &labelHeight);
        *allocation = {(width - labelWidth) / 2, (height - labelHeight) / 2, labelWidth, labelHeight};
        return TRUE;
    }
    if (auto *snapshot =
            static_cast<GtkResizeOverlay *>(g_object_get_data(G_OBJECT(child), "wheelbox-overlay"))) {
        GtkRequisition size;
        gtk_widget_get_preferred_size(child, nullptr, &size);
        Point origin = snapshot->origin();
        *allocation = {int(std::lround(origin.x)), height - (int(std::lround(origin.y)) + size.height),
                       size.width, size.height};
        return TRUE;
    }
    return FALSE;
}

} // namespace wheelbox
