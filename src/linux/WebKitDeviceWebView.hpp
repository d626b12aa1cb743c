#pragma once

#include "lib/glib/GLibPointers.hpp"
#include "lib/gtk/GtkPointers.hpp"
#include "window/DeviceWebView.hpp"

#include <webkit2/webkit2.h>

namespace wheelbox {

// A picture WebKitGTK took of the page.
class WebKitSnapshot final : public Snapshot {
  public:
    explicit WebKitSnapshot(gtk::CairoSurfacePtr surface) : surface_(std::move(surface)) {}
    cairo_surface_t *surface() const noexcept { return surface_.get(); }

  private:
    gtk::CairoSurfacePtr surface_;
};

// The device's WebKitWebView: transparent, no context menu, every navigation put to the delegate,
// messages to the "velto" handler passed on as JSON text, and primary-button presses outside the
// click wheel turned into a window move (past GTK's drag threshold) or one chassis click (released
// without moving). Main thread.
class WebKitDeviceWebView final : public DeviceWebView {
  public:
    // `context` serves the "velto" scheme.
    explicit WebKitDeviceWebView(WebKitWebContext *context);
    ~WebKitDeviceWebView() override;
    WebKitDeviceWebView(const WebKitDeviceWebView &) = delete;
    WebKitDeviceWebView &operator=(const WebKitDeviceWebView &) = delete;

    GtkWidget *widget() const noexcept { return GTK_WIDGET(view_.get()); }
    WebKitWebView *view() const noexcept { return WEBKIT_WEB_VIEW(view_.get()); }

    void evaluateJavaScript(const std::string &script) override;
    void callFunction(PageFunctionCall call) override;
    void setDelegate(DeviceWebViewDelegate *delegate) override { delegate_ = delegate; }
    void addScriptMessageHandler(ScriptMessageHandler &handler) override;
    void removeScriptMessageHandler() override;
    void load(const std::string &url) override;
    void stopLoading() override;
    void callAsyncJavaScript(const std::string &body, const std::map<std::string, double> &arguments,
                             std::function<void()> completion) override;
    void takeSnapshot(std::function<void(std::unique_ptr<Snapshot>)> completion) override;
    double alpha() const override;
    void setAlpha(double alpha) override;

  private:
    static void onLoadChanged(WebKitWebView *view, WebKitLoadEvent event, gpointer self);
    static gboolean onLoadFailed(WebKitWebView *view, WebKitLoadEvent event, gchar *uri, GError *error,
                                 gpointer self);
    static void onWebProcessTerminated(WebKitWebView *view, WebKitWebProcessTerminationReason reason,
                                       gpointer self);
    static gboolean onDecidePolicy(WebKitWebView *view, WebKitPolicyDecision *decision,
                                   WebKitPolicyDecisionType type, gpointer self);
    static gboolean onContextMenu(WebKitWebView *view, WebKitContextMenu *menu, GdkEvent *event,
                                  WebKitHitTestResult *hit, gpointer self);
    static gboolean onButtonPress(GtkWidget *widget, GdkEventButton *event, gpointer self);
    static gboolean onButtonRelease(GtkWidget *widget, GdkEventButton *event, gpointer self);
    static gboolean onMotion(GtkWidget *widget, GdkEventMotion *event, gpointer self);
    static void onScriptMessage(WebKitUserContentManager *manager, WebKitJavascriptResult *result,
                                gpointer self);

    // A primary press on the body, until it becomes a move or a click.
    struct BodyPress {
        double x = 0;
        double y = 0;
        double rootX = 0;
        double rootY = 0;
    };

    glib::ObjectPtr<WebKitUserContentManager> contentManager_;
    glib::ObjectPtr<GtkWidget> view_;
    glib::ObjectPtr<GCancellable> cancellable_;
    DeviceWebViewDelegate *delegate_ = nullptr;
    ScriptMessageHandler *messageHandler_ = nullptr;
    gulong messageSignal_ = 0;
    bool committed_ = false;
    bool failed_ = false;
    std::optional<BodyPress> press_;
};

} // namespace wheelbox
