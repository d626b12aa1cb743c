#include "linux/ArtworkDownload.hpp"
#include "linux/TlsUnderLeakSanitizer.hpp"

#include "lib/glib/GLibPointers.hpp"

#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

namespace wheelbox {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A certificate authority and a certificate for 127.0.0.1 it signed, made with openssl for this
// run only.
class TestCertificates {
  public:
    TestCertificates()
    {
        std::string pattern = (fs::temp_directory_path() / "wheelbox-tls.XXXXXX").string();
        folder_ = ::mkdtemp(pattern.data());
        // Appended piece by piece: GCC 12 at -O3 takes "text" + std::string&& for overlapping copies.
        const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
        std::string command = "cd '";
        command += folder_.string();
        command += "' && openssl req -x509";
        command += key;
        command +=
            "-keyout ca.key -out ca.pem -days 2 -subj '/CN=Wheelbox Test CA' >/dev/null 2>&1 && openssl req";
        command += key;
        command += "-keyout server.key -out server.csr -subj '/CN=127.0.0.1' >/dev/null 2>&1 && "
                   "printf 'subjectAltName=IP:127.0.0.1\\n' > san && "
                   "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 "
                   "-extfile san -out server.pem >/dev/null 2>&1";
        made_ = std::system(command.c_str()) == 0;
    }
    ~TestCertificates() { fs::remove_all(folder_); }

    bool made() const { return made_; }
    fs::path authority() const { return folder_ / "ca.pem"; }
    fs::path certificate() const { return folder_ / "server.pem"; }
    fs::path key() const { return folder_ / "server.key"; }

  private:
    fs::path folder_;
    bool made_ = false;
};

// An HTTPS server on 127.0.0.1 and a plain HTTP one beside it, each counting its requests, on a
// thread and main context of their own.
class ArtServer {
  public:
    static constexpr std::size_t largest = 1000;

    explicit ArtServer(const TestCertificates &certificates)
    {
        std::promise<void> ready;
        thread_ = std::thread([&] {
            context_ = g_main_context_new();
            g_main_context_push_thread_default(context_);
            loop_ = g_main_loop_new(context_, FALSE);
            GError *error = nullptr;
            glib::ObjectPtr<GTlsCertificate> certificate(g_tls_certificate_new_from_files(
                certificates.certificate().c_str(), certificates.key().c_str(), &error));
            g_clear_error(&error);
            secure_ = soup_server_new("tls-certificate", certificate.get(), nullptr);
            plain_ = soup_server_new(nullptr, nullptr);
            soup_server_add_handler(secure_, nullptr, &ArtServer::handle, this, nullptr);
            soup_server_add_handler(plain_, nullptr, &ArtServer::handlePlain, this, nullptr);
            soup_server_listen_local(
                secure_, 0,
                static_cast<SoupServerListenOptions>(SOUP_SERVER_LISTEN_HTTPS | SOUP_SERVER_LISTEN_IPV4_ONLY),
                &error);
            g_clear_error(&error);
            soup_server_listen_local(plain_, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, &error);
            g_clear_error(&error);
            securePort_ = portOf(secure_);
            plainPort_ = portOf(plain_);
            ready.set_value();
            g_main_loop_run(loop_);
            for (auto *message : stalled_)
                soup_server_message_unpause(message);
            g_object_unref(secure_);
            g_object_unref(plain_);
            g_main_loop_unref(loop_);
            g_main_context_pop_thread_default(context_);
            g_main_context_unref(context_);
        });
        ready.get_future().wait();
    }
    ~ArtServer()
    {
        g_main_context_invoke(
            context_,
            [](gpointer loop) {
                g_main_loop_quit(static_cast<GMainLoop *>(loop));
                return G_SOURCE_REMOVE;
            },
            loop_);
        thread_.join();
    }

    std::string secure(const std::string &path) const { return address("https", securePort_, path); }
    std::string plain(const std::string &path) const { return address("http", plainPort_, path); }
    int plainRequests() const { return plainRequests_; }
    static std::string picture() { return "\x89PNG\r\n\x1a\n picture"; }

  private:
    static std::string address(std::string_view scheme, unsigned port, const std::string &path)
    {
        std::string address(scheme);
        address += "://127.0.0.1:";
        address += std::to_string(port);
        address += path;
        return address;
    }

    static unsigned portOf(SoupServer *server)
    {
        GSList *uris = soup_server_get_uris(server);
        unsigned port = uris ? static_cast<unsigned>(g_uri_get_port(static_cast<GUri *>(uris->data))) : 0;
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
        return port;
    }

    static void respond(SoupServerMessage *message, guint status, const std::string &body)
    {
        soup_server_message_set_status(message, status, nullptr);
        soup_server_message_set_response(message, "image/png", SOUP_MEMORY_COPY, body.data(), body.size());
    }

    static void redirect(SoupServerMessage *message, const std::string &to)
    {
        soup_server_message_set_status(message, 302, nullptr);
        soup_message_headers_replace(soup_server_message_get_response_headers(message), "Location",
                                     to.c_str());
    }

    static void handle(SoupServer *, SoupServerMessage *message, const char *path, GHashTable *,
                       gpointer data)
    {
        auto *self = static_cast<ArtServer *>(data);
        const std::string_view requested = path;
        if (requested == "/cover.png") {
            respond(message, 200, picture());
        } else if (requested == "/moved") {
            redirect(message, "/cover.png");
        } else if (requested == "/downgrade") {
            redirect(message, self->plain("/cover.png"));
        } else if (requested == "/loop") {
            redirect(message, "/loop");
        } else if (requested == "/big") {
            respond(message, 200, std::string(largest + 1, 'x'));
        } else if (requested == "/big-unannounced") {
            soup_server_message_set_status(message, 200, nullptr);
            auto *headers = soup_server_message_get_response_headers(message);
            soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
            auto *body = soup_server_message_get_response_body(message);
            for (int chunk = 0; chunk < 3; ++chunk)
                soup_message_body_append(body, SOUP_MEMORY_COPY, std::string(400, 'x').data(), 400);
            soup_message_body_complete(body);
        } else if (requested == "/busy") {
            respond(message, 503, "");
        } else if (requested == "/stalls") {
            soup_server_message_pause(message);
            self->stalled_.push_back(message);
        } else {
            respond(message, 404, "");
        }
    }

    static void handlePlain(SoupServer *, SoupServerMessage *message, const char *, GHashTable *,
                            gpointer data)
    {
        ++static_cast<ArtServer *>(data)->plainRequests_;
        respond(message, 200, picture());
    }

    std::thread thread_;
    GMainContext *context_ = nullptr;
    GMainLoop *loop_ = nullptr;
    SoupServer *secure_ = nullptr;
    SoupServer *plain_ = nullptr;
    unsigned securePort_ = 0, plainPort_ = 0;
    std::atomic<int> plainRequests_ = 0;
    std::vector<SoupServerMessage *> stalled_;
};

std::string textOf(const std::optional<std::vector<std::byte>> &data)
{
    return data ? std::string(reinterpret_cast<const char *>(data->data()), data->size()) : "(none)";
}

TEST(ArtworkDownload, OnlyAnHttpsAnswerThatChecksOutAndFitsIsKept)
{
    TestCertificates certificates;
    if (!certificates.made())
        GTEST_SKIP() << "openssl could not make test certificates";
    ArtServer server(certificates);
    const ArtworkDownloadSettings trusting{
        .largest = ArtServer::largest, .timeout = 3s, .trustedCertificates = certificates.authority()};
    const ArtworkDownloadSettings untrusting{.largest = ArtServer::largest, .timeout = 3s};
    struct Case {
        const char *what;
        std::string address;
        ArtworkDownloadSettings settings;
        std::string kept;
    } cases[] = {
        {"a picture", server.secure("/cover.png"), trusting, ArtServer::picture()},
        {"a redirect within https", server.secure("/moved"), trusting, ArtServer::picture()},
        {"a certificate nobody vouches for", server.secure("/cover.png"), untrusting, "(none)"},
        {"plain http", server.plain("/cover.png"), trusting, "(none)"},
        {"a redirect down to http", server.secure("/downgrade"), trusting, "(none)"},
        {"endless redirects", server.secure("/loop"), trusting, "(none)"},
        {"an answer over the limit", server.secure("/big"), trusting, "(none)"},
        {"an answer over the limit, unannounced", server.secure("/big-unannounced"), trusting, "(none)"},
        {"not found", server.secure("/missing"), trusting, "(none)"},
        {"another scheme", "ftp://127.0.0.1/cover.png", trusting, "(none)"},
        {"not an address", "https://", trusting, "(none)"},
        {"a NUL", std::string("https://127.0.0.1/\0x", 20), trusting, "(none)"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(textOf(downloadArtwork(c.address, c.settings)), c.kept) << c.what;
    EXPECT_EQ(server.plainRequests(), 0) << "nothing ever went out without TLS";

    // What says nothing about the picture, only that this attempt failed, is told apart: the
    // address is asked again later, never taken for one without a picture.
    const ArtworkDownloadSettings soon{.timeout = 500ms, .trustedCertificates = certificates.authority()};
    const struct {
        const char *what;
        std::string address;
    } failures[] = {
        {"a server error", server.secure("/busy")},
        {"nobody listening", "https://127.0.0.1:1/cover.png"},
        {"a server that never answers", server.secure("/stalls")},
    };
    for (const auto &failure : failures) {
        const auto started = std::chrono::steady_clock::now();
        EXPECT_THROW(downloadArtwork(failure.address, soon), ArtworkDownloadError) << failure.what;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << failure.what;
    }

    // A cancellation ends it before its deadline.
    glib::ObjectPtr<GCancellable> cancel(g_cancellable_new());
    std::thread canceller([&] {
        std::this_thread::sleep_for(200ms);
        g_cancellable_cancel(cancel.get());
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(downloadArtwork(server.secure("/stalls"),
                                 {.timeout = 60s, .trustedCertificates = certificates.authority()},
                                 cancel.get()),
                 ArtworkDownloadError);
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
}

} // namespace
} // namespace wheelbox
