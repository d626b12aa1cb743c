#include "linux/GtkDeviceViews.hpp"

#include "lib/glib/GLibPointers.hpp"
#include "linux/GtkDeviceWindow.hpp"
#include "linux/WebKitDeviceWebView.hpp"
#include "linux/WebKitSchemeAdapter.hpp"

namespace wheelbox {

GtkDeviceViews::GtkDeviceViews(const GdkScreens &screens, Storage storage)
    : screens_(screens), storage_(std::move(storage))
{}

GtkDeviceViews::Storage GtkDeviceViews::userStorage()
{
    return {std::filesystem::path(g_get_user_data_dir()) / "wheelbox",
            std::filesystem::path(g_get_user_cache_dir()) / "wheelbox"};
}

std::unique_ptr<DeviceWebView> GtkDeviceViews::makeWebView(WebResourceSchemeHandler &schemeHandler)
{
    glib::ObjectPtr<WebKitWebsiteDataManager> data(
        webkit_website_data_manager_new("base-data-directory", storage_.data.c_str(), "base-cache-directory",
                                        storage_.cache.c_str(), nullptr));
    glib::ObjectPtr<WebKitWebContext> context(webkit_web_context_new_with_website_data_manager(data.get()));
    // Nothing a page could start with may slow the device's own page down.
    webkit_web_context_set_cache_model(context.get(), WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    WebKitSchemeAdapter::registerScheme(context.get(), schemeHandler);
    return std::make_unique<WebKitDeviceWebView>(context.get());
}

std::unique_ptr<DeviceWindow> GtkDeviceViews::makeWindow(const DeviceWindowSetup &setup,
                                                         DeviceWebView &webView)
{
    auto *view = dynamic_cast<WebKitDeviceWebView *>(&webView);
    if (!view)
        return nullptr;
    return std::make_unique<GtkDeviceWindow>(screens_, setup, view->widget());
}

} // namespace wheelbox
