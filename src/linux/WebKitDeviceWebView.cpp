#include "linux/WebKitDeviceWebView.hpp"

#include "lib/glib/StringVariant.hpp"

namespace wheelbox {
namespace {

constexpr const char *messageHandlerName = "velto";

template <typename Completion> struct Pending {
    Completion completion;
};

} // namespace

WebKitDeviceWebView::WebKitDeviceWebView(WebKitWebContext *context)
    : contentManager_(webkit_user_content_manager_new()), cancellable_(g_cancellable_new())
{
    GtkWidget *view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                              "user-content-manager", contentManager_.get(), nullptr));
    view_.reset(GTK_WIDGET(g_object_ref_sink(view)));

    WebKitSettings *settings = webkit_web_view_get_settings(this->view());
    webkit_settings_set_media_playback_requires_user_gesture(settings, FALSE);
    webkit_settings_set_enable_back_forward_navigation_gestures(settings, FALSE);
    // At rest the page changes a line a second: painted without compositing, WebKit draws that
    // line alone, where composited (in software, without a GPU) it would redraw and hand over the
    // whole window each time.
    webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    GdkRGBA transparent{0, 0, 0, 0};
    webkit_web_view_set_background_color(this->view(), &transparent);

    g_signal_connect(view, "load-changed", G_CALLBACK(&WebKitDeviceWebView::onLoadChanged), this);
    g_signal_connect(view, "load-failed", G_CALLBACK(&WebKitDeviceWebView::onLoadFailed), this);
    g_signal_connect(view, "web-process-terminated", G_CALLBACK(&WebKitDeviceWebView::onWebProcessTerminated),
                     this);
    g_signal_connect(view, "decide-policy", G_CALLBACK(&WebKitDeviceWebView::onDecidePolicy), this);
    g_signal_connect(view, "context-menu", G_CALLBACK(&WebKitDeviceWebView::onContextMenu), this);
    // Connected before WebKit's own handlers run, so a press on the body never reaches the page.
    g_signal_connect(view, "button-press-event", G_CALLBACK(&WebKitDeviceWebView::onButtonPress), this);
    g_signal_connect(view, "button-release-event", G_CALLBACK(&WebKitDeviceWebView::onButtonRelease), this);
    g_signal_connect(view, "motion-notify-event", G_CALLBACK(&WebKitDeviceWebView::onMotion), this);
}

WebKitDeviceWebView::~WebKitDeviceWebView()
{
    g_cancellable_cancel(cancellable_.get());
    removeScriptMessageHandler();
    g_signal_handlers_disconnect_by_data(view_.get(), this);
}

void WebKitDeviceWebView::evaluateJavaScript(const std::string &script)
{
    webkit_web_view_evaluate_javascript(view(), script.data(), gssize(script.size()), nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
}

void WebKitDeviceWebView::callFunction(PageFunctionCall call)
{
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    // Each text is handed over, not copied: a large answer is in memory once on this side.
    for (auto &argument : call.arguments)
        g_variant_builder_add(&builder, "{sv}", argument.name.c_str(),
                              glib::takeStringVariant(std::move(argument.text)));
    webkit_web_view_call_async_javascript_function(view(), call.body.data(), gssize(call.body.size()),
                                                   g_variant_builder_end(&builder), nullptr, nullptr, nullptr,
                                                   nullptr, nullptr);
}

void WebKitDeviceWebView::addScriptMessageHandler(ScriptMessageHandler &handler)
{
    removeScriptMessageHandler();
    messageHandler_ = &handler;
    messageSignal_ = g_signal_connect(contentManager_.get(), "script-message-received::velto",
                                      G_CALLBACK(&WebKitDeviceWebView::onScriptMessage), this);
    webkit_user_content_manager_register_script_message_handler(contentManager_.get(), messageHandlerName);
}

void WebKitDeviceWebView::removeScriptMessageHandler()
{
    if (!messageHandler_)
        return;
    webkit_user_content_manager_unregister_script_message_handler(contentManager_.get(), messageHandlerName);
    g_signal_handler_disconnect(contentManager_.get(), messageSignal_);
    messageSignal_ = 0;
    messageHandler_ = nullptr;
}

void WebKitDeviceWebView::load(const std::string &url)
{
    webkit_web_view_load_uri(view(), url.c_str());
}

void WebKitDeviceWebView::stopLoading()
{
    webkit_web_view_stop_loading(view());
}

void WebKitDeviceWebView::callAsyncJavaScript(const std::string &body,
                                              const std::map<std::string, double> &arguments,
                                              std::function<void()> completion)
{
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    for (const auto &[name, value] : arguments)
        g_variant_builder_add(&builder, "{sv}", name.c_str(), g_variant_new_double(value));
    auto *pending = new Pending<std::function<void()>>{std::move(completion)};
    webkit_web_view_call_async_javascript_function(
        view(), body.data(), gssize(body.size()), g_variant_builder_end(&builder), nullptr, nullptr,
        cancellable_.get(),
        [](GObject *source, GAsyncResult *result, gpointer data) {
            std::unique_ptr<Pending<std::function<void()>>> owned(
                static_cast<Pending<std::function<void()>> *>(data));
            GError *error = nullptr;
            if (JSCValue *value = webkit_web_view_call_async_javascript_function_finish(
                    WEBKIT_WEB_VIEW(source), result, &error))
                g_object_unref(value);
            // Settled either way; a rejected or missing firmware function lets the caller go on.
            if (error)
                g_error_free(error);
            owned->completion();
        },
        pending);
}

void WebKitDeviceWebView::takeSnapshot(std::function<void(std::unique_ptr<Snapshot>)> completion)
{
    using Completion = std::function<void(std::unique_ptr<Snapshot>)>;
    auto *pending = new Pending<Completion>{std::move(completion)};
    webkit_web_view_get_snapshot(
        view(), WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_TRANSPARENT_BACKGROUND,
        cancellable_.get(),
        [](GObject *source, GAsyncResult *result, gpointer data) {
            std::unique_ptr<Pending<Completion>> owned(static_cast<Pending<Completion> *>(data));
            GError *error = nullptr;
            gtk::CairoSurfacePtr surface(
                webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error));
            if (error)
                g_error_free(error);
            owned->completion(surface ? std::make_unique<WebKitSnapshot>(std::move(surface)) : nullptr);
        },
        pending);
}

double WebKitDeviceWebView::alpha() const
{
    return gtk_widget_get_opacity(widget());
}

void WebKitDeviceWebView::setAlpha(double alpha)
{
    gtk_widget_set_opacity(widget(), alpha);
}

void WebKitDeviceWebView::onLoadChanged(WebKitWebView *, WebKitLoadEvent event, gpointer data)
{
    auto *self = static_cast<WebKitDeviceWebView *>(data);
    switch (event) {
    case WEBKIT_LOAD_STARTED:
        self->committed_ = false;
        self->failed_ = false;
        if (self->delegate_)
            self->delegate_->didStartProvisionalNavigation();
        break;
    case WEBKIT_LOAD_COMMITTED:
        self->committed_ = true;
        break;
    case WEBKIT_LOAD_FINISHED:
        // WebKitGTK also reports a failed load as finished, right after "load-failed".
        if (!self->failed_ && self->delegate_)
            self->delegate_->didFinishNavigation();
        break;
    case WEBKIT_LOAD_REDIRECTED:
        break;
    }
}

gboolean WebKitDeviceWebView::onLoadFailed(WebKitWebView *, WebKitLoadEvent, gchar *, GError *error,
                                           gpointer data)
{
    auto *self = static_cast<WebKitDeviceWebView *>(data);
    self->failed_ = true;
    if (self->delegate_) {
        self->delegate_->didFailNavigation(self->committed_ ? NavigationPhase::committed
                                                            : NavigationPhase::provisional,
                                           error && error->message ? error->message : "Unknown error");
    }
    return TRUE; // no WebKit error page
}

void WebKitDeviceWebView::onWebProcessTerminated(WebKitWebView *, WebKitWebProcessTerminationReason,
                                                 gpointer data)
{
    auto *self = static_cast<WebKitDeviceWebView *>(data);
    if (self->delegate_)
        self->delegate_->webContentProcessDidTerminate();
}

gboolean WebKitDeviceWebView::onDecidePolicy(WebKitWebView *, WebKitPolicyDecision *decision,
                                             WebKitPolicyDecisionType type, gpointer data)
{
    auto *self = static_cast<WebKitDeviceWebView *>(data);
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE)
        return FALSE;
    // No new windows, whatever the page asks for.
    bool allowed = false;
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && self->delegate_) {
        WebKitNavigationAction *action = webkit_navigation_policy_decision_get_navigation_action(
            WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        WebKitURIRequest *request = action ? webkit_navigation_action_get_request(action) : nullptr;
        const char *uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        allowed =
            self->delegate_->shouldAllowNavigation(uri ? std::optional<std::string>(uri) : std::nullopt);
    }
    if (allowed)
        webkit_policy_decision_use(decision);
    else
        webkit_policy_decision_ignore(decision);
    return TRUE;
}

gboolean WebKitDeviceWebView::onContextMenu(WebKitWebView *, WebKitContextMenu *, GdkEvent *,
                                            WebKitHitTestResult *, gpointer)
{
    return TRUE;
}

gboolean WebKitDeviceWebView::onButtonPress(GtkWidget *widget, GdkEventButton *event, gpointer data)
{
    auto *self = static_cast<WebKitDeviceWebView *>(data);
    bool primary = event->button == GDK_BUTTON_PRIMARY;
    if ((!primary && event->button != GDK_BUTTON_SECONDARY) || !self->delegate_)
        return FALSE;
    Size bounds{double(gtk_widget_get_allocated_width(widget)),
                double(gtk_widget_get_allocated_height(widget))};
    if (self->delegate_->routePress({event->x, event->y}, bounds) == PressRoute::page)
        return FALSE;
    if (!primary) {
        if (event->type == GDK_BUTTON_PRESS)
            self->delegate_->bodyMenuRequested();
        return TRUE;
    }
    // Double and triple presses on the body are swallowed too: they would select text.
    if (event->type == GDK_BUTTON_PRESS)
        self->press_ = BodyPress{event->x, event->y, event->x_root, event->y_root};
    return TRUE;
}

gboolean WebKitDeviceWebView::onMotion(GtkWidget *widget, GdkEventMotion *event, gpointer data)
{
    auto *self = static_cast<WebKitDeviceWebView *>(data);
    if (!self->press_)
        return FALSE;
    if (!gtk_drag_check_threshold(widget, int(self->press_->x), int(self->press_->y), int(event->x),
                                  int(event->y)))
        return TRUE;
    BodyPress press = *self->press_;
    self->press_.reset();
    if (GtkWidget *toplevel = gtk_widget_get_toplevel(widget); GTK_IS_WINDOW(toplevel)) {
        gtk_window_begin_move_drag(GTK_WINDOW(toplevel), GDK_BUTTON_PRIMARY, int(press.rootX),
                                   int(press.rootY), event->time);
    }
    return TRUE;
}

gboolean WebKitDeviceWebView::onButtonRelease(GtkWidget *, GdkEventButton *event, gpointer data)
{
    auto *self = static_cast<WebKitDeviceWebView *>(data);
    if (event->button != GDK_BUTTON_PRIMARY || !self->press_)
        return FALSE;
    self->press_.reset();
    if (self->delegate_)
        self->delegate_->chassisClicked();
    return TRUE;
}

void WebKitDeviceWebView::onScriptMessage(WebKitUserContentManager *, WebKitJavascriptResult *result,
                                          gpointer data)
{
    auto *self = static_cast<WebKitDeviceWebView *>(data);
    if (!self->messageHandler_)
        return;
    JSCValue *value = webkit_javascript_result_get_js_value(result);
    // Null for what JSON cannot hold (a cycle, a function): such a message is dropped.
    glib::CharPtr json(value ? jsc_value_to_json(value, 0) : nullptr);
    if (!json)
        return;
    const char *uri = webkit_web_view_get_uri(self->view());
    self->messageHandler_->didReceiveScriptMessage(json.get(), uri ? uri : "");
}

} // namespace wheelbox
