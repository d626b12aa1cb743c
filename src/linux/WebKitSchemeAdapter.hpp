#pragma once

#include "web/WebResourceSchemeHandler.hpp"

#include <webkit2/webkit2.h>

namespace wheelbox {

// Serves the "velto" scheme of a WebKitWebContext with a WebResourceSchemeHandler: each request
// becomes a SchemeTask answered with a WebKitURISchemeResponse (text types carry
// "; charset=utf-8") or a GError. URL errors use the domain "velto-url-error" with the URL error
// codes as error codes; file-system errors come as G_FILE_ERROR. WebKitGTK has no call for a
// request the page gave up: an answer for a view that is gone is simply dropped by WebKit.
class WebKitSchemeAdapter {
  public:
    static constexpr const char *scheme = "velto";

    // `handler` must outlive `context`'s use of the scheme (the context dies with the web view).
    static void registerScheme(WebKitWebContext *context, WebResourceSchemeHandler &handler);

    static GQuark urlErrorQuark();
};

} // namespace wheelbox
