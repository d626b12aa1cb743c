#include "linux/ArtworkDownload.hpp"

#include "lib/glib/AsyncWait.hpp"

#include <libsoup/soup.h>

#include <algorithm>
#include <string>
#include <string_view>

namespace wheelbox {
namespace {

constexpr gsize readChunk = 64 * 1024;
constexpr auto uriFlags = static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS);

bool isHttps(const std::string &address)
{
    GError *error = nullptr;
    GUri *uri = g_uri_parse(address.c_str(), uriFlags, &error);
    if (!uri) {
        g_clear_error(&error);
        return false;
    }
    const bool https =
        g_strcmp0(g_uri_get_scheme(uri), "https") == 0 && g_uri_get_host(uri) && *g_uri_get_host(uri) != '\0';
    g_uri_unref(uri);
    return https;
}

bool isRedirect(guint status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// A failure of this attempt, not an answer about the picture: asked again later.
bool isPassing(guint status)
{
    return status >= 500 || status == 408 || status == 429;
}

[[noreturn]] void couldNotAsk(GError *error, const char *what)
{
    std::string message = error ? error->message : what;
    g_clear_error(&error);
    throw ArtworkDownloadError(message);
}

// Ends the download's own cancellable when the caller's is cancelled.
class CancelLink {
  public:
    CancelLink(GCancellable *from, GCancellable *to) : from_(from)
    {
        if (from_)
            handler_ = g_cancellable_connect(from_, G_CALLBACK(+[](GCancellable *, gpointer target) {
                                                 g_cancellable_cancel(static_cast<GCancellable *>(target));
                                             }),
                                             to, nullptr);
    }
    ~CancelLink()
    {
        if (from_ && handler_)
            g_cancellable_disconnect(from_, handler_);
    }
    CancelLink(const CancelLink &) = delete;
    CancelLink &operator=(const CancelLink &) = delete;

  private:
    GCancellable *from_;
    gulong handler_ = 0;
};

} // namespace

std::optional<std::vector<std::byte>>
downloadArtwork(const std::string &address, const ArtworkDownloadSettings &settings, GCancellable *cancel)
{
    if (address.find('\0') != std::string::npos || !isHttps(address))
        return std::nullopt;
    // The session is made while the private context is the thread's default, so everything it
    // does runs there, under the one deadline.
    glib::AsyncWait call(std::chrono::steady_clock::now() + settings.timeout);
    CancelLink link(cancel, call.cancellable());
    const auto seconds = static_cast<guint>(std::max<std::chrono::seconds::rep>(
        1, std::chrono::ceil<std::chrono::seconds>(settings.timeout).count()));
    glib::ObjectPtr<SoupSession> session(
        soup_session_new_with_options("timeout", seconds, "user-agent", "Wheelbox", nullptr));
    if (settings.trustedCertificates) {
        GError *error = nullptr;
        glib::ObjectPtr<GTlsDatabase> database(
            g_tls_file_database_new(settings.trustedCertificates->c_str(), &error));
        g_clear_error(&error);
        if (!database)
            return std::nullopt;
        g_object_set(session.get(), "tls-database", database.get(), nullptr);
    }

    std::string current = address;
    for (int hop = 0;; ++hop) {
        if (!isHttps(current))
            return std::nullopt;
        glib::ObjectPtr<SoupMessage> message(soup_message_new("GET", current.c_str()));
        if (!message)
            return std::nullopt;
        // Redirects are followed here, where each one's scheme is checked.
        soup_message_add_flags(message.get(), SOUP_MESSAGE_NO_REDIRECT);
        soup_session_send_async(session.get(), message.get(), G_PRIORITY_DEFAULT, call.cancellable(),
                                glib::AsyncWait::ready, &call);
        GError *error = nullptr;
        glib::ObjectPtr<GInputStream> stream(soup_session_send_finish(session.get(), call.wait(), &error));
        call.next();
        if (!stream) {
            // A certificate that does not check out is the server's answer; anything else (no
            // route, no answer in time, a cancellation) is this attempt's failure.
            if (!error || error->domain != G_TLS_ERROR)
                couldNotAsk(error, "The picture's server could not be reached.");
            g_clear_error(&error);
            return std::nullopt;
        }
        const guint status = soup_message_get_status(message.get());
        if (isRedirect(status)) {
            const char *location =
                soup_message_headers_get_one(soup_message_get_response_headers(message.get()), "Location");
            if (!location || hop >= settings.redirects)
                return std::nullopt;
            glib::CharPtr next(g_uri_resolve_relative(current.c_str(), location, uriFlags, &error));
            g_clear_error(&error);
            if (!next)
                return std::nullopt;
            current = next.get();
            continue;
        }
        if (isPassing(status))
            couldNotAsk(nullptr, "The picture's server failed.");
        if (status != SOUP_STATUS_OK)
            return std::nullopt;
        const goffset announced =
            soup_message_headers_get_content_length(soup_message_get_response_headers(message.get()));
        if (announced > 0 && static_cast<std::uint64_t>(announced) > settings.largest)
            return std::nullopt;

        std::vector<std::byte> data;
        for (;;) {
            g_input_stream_read_bytes_async(stream.get(), readChunk, G_PRIORITY_DEFAULT, call.cancellable(),
                                            glib::AsyncWait::ready, &call);
            GBytes *chunk = g_input_stream_read_bytes_finish(stream.get(), call.wait(), &error);
            call.next();
            if (!chunk)
                couldNotAsk(error, "The picture's download broke off.");
            gsize size = 0;
            const auto *bytes = static_cast<const std::byte *>(g_bytes_get_data(chunk, &size));
            if (size == 0 || data.size() + size > settings.largest) {
                g_bytes_unref(chunk);
                if (size == 0)
                    break;
                return std::nullopt;
            }
            data.insert(data.end(), bytes, bytes + size);
            g_bytes_unref(chunk);
        }
        if (data.empty())
            return std::nullopt;
        return data;
    }
}

} // namespace wheelbox
