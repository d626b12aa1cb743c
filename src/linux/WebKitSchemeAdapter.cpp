#include "linux/WebKitSchemeAdapter.hpp"

#include "lib/glib/GLibPointers.hpp"

#include <functional>
#include <memory>

namespace wheelbox {
namespace {

// One request of the page. Every call arrives on the main thread, as WebKitGTK requires.
class WebKitSchemeTask final : public SchemeTask, public std::enable_shared_from_this<WebKitSchemeTask> {
  public:
    explicit WebKitSchemeTask(WebKitURISchemeRequest *request)
        : request_(WEBKIT_URI_SCHEME_REQUEST(g_object_ref(request)))
    {}

    ~WebKitSchemeTask() override
    {
        if (view_)
            g_object_weak_unref(G_OBJECT(view_), viewGone, this);
    }

    // WebKitGTK has no call that stops one request; when the view that asked goes away, nobody
    // will take the answer, so the handler is told to stop the task then.
    void stopWhenViewGoes(std::function<void(const SchemeTask &)> stop)
    {
        view_ = webkit_uri_scheme_request_get_web_view(request_.get());
        if (!view_)
            return;
        stop_ = std::move(stop);
        g_object_weak_ref(G_OBJECT(view_), viewGone, this);
    }

    std::optional<std::string> requestURL() const override
    {
        const char *uri = webkit_uri_scheme_request_get_uri(request_.get());
        return uri ? std::optional<std::string>(uri) : std::nullopt;
    }

    std::optional<std::string> requestMethod() const override
    {
        const char *method = webkit_uri_scheme_request_get_http_method(request_.get());
        return method ? std::optional<std::string>(method) : std::nullopt;
    }

    void didReceiveResponse(const SchemeResponse &response) override { response_ = response; }

    void didReceiveData(std::vector<std::byte> data) override { data_ = std::move(data); }

    void didFinish() override
    {
        // The bytes move into the stream without a copy.
        auto *held = new std::vector<std::byte>(std::move(data_));
        GBytes *bytes = g_bytes_new_with_free_func(
            held->data(), held->size(),
            [](gpointer owner) { delete static_cast<std::vector<std::byte> *>(owner); }, held);
        glib::ObjectPtr<GInputStream> stream(g_memory_input_stream_new_from_bytes(bytes));
        g_bytes_unref(bytes);
        glib::ObjectPtr<WebKitURISchemeResponse> response(
            webkit_uri_scheme_response_new(stream.get(), gint64(response_.expectedContentLength)));
        std::string type = response_.mimeType;
        if (response_.textEncodingName)
            type += "; charset=" + *response_.textEncodingName;
        webkit_uri_scheme_response_set_content_type(response.get(), type.c_str());
        webkit_uri_scheme_request_finish_with_response(request_.get(), response.get());
    }

    void didFailWithError(const WebResourceError &error) override
    {
        glib::ErrorPtr failure(
            error.domain() == WebResourceError::Domain::url
                ? g_error_new_literal(WebKitSchemeAdapter::urlErrorQuark(), error.code(), error.what())
                : g_error_new_literal(G_FILE_ERROR, g_file_error_from_errno(error.code()), error.what()));
        webkit_uri_scheme_request_finish_error(request_.get(), failure.get());
    }

  private:
    static void viewGone(gpointer data, GObject *)
    {
        auto *task = static_cast<WebKitSchemeTask *>(data);
        task->view_ = nullptr; // GObject drops its weak references itself
        // The handler's stop may drop the last other owner of this task.
        auto self = task->shared_from_this();
        if (task->stop_)
            task->stop_(*task);
    }

    glib::ObjectPtr<WebKitURISchemeRequest> request_;
    SchemeResponse response_;
    std::vector<std::byte> data_;
    WebKitWebView *view_ = nullptr;
    std::function<void(const SchemeTask &)> stop_;
};

} // namespace

GQuark WebKitSchemeAdapter::urlErrorQuark()
{
    return g_quark_from_static_string("velto-url-error");
}

void WebKitSchemeAdapter::registerScheme(WebKitWebContext *context, WebResourceSchemeHandler &handler)
{
    webkit_web_context_register_uri_scheme(
        context, scheme,
        [](WebKitURISchemeRequest *request, gpointer data) {
            auto &schemeHandler = *static_cast<WebResourceSchemeHandler *>(data);
            auto task = std::make_shared<WebKitSchemeTask>(request);
            task->stopWhenViewGoes(schemeHandler.stopper());
            schemeHandler.start(std::move(task));
        },
        &handler, nullptr);
    // A secure context of its own (velto://app is one origin), never local: it reaches no file.
    webkit_security_manager_register_uri_scheme_as_secure(webkit_web_context_get_security_manager(context),
                                                          scheme);
}

} // namespace wheelbox
