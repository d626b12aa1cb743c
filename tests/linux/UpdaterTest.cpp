// The Linux updater: the appcast read as update feeds are, and the check against a feed in a file
// and one served over HTTP on this machine.
#include "linux/Appcast.hpp"
#include "linux/LinuxUpdater.hpp"
#include "linux/TlsUnderLeakSanitizer.hpp"

#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include <cstring>
#include <fstream>

namespace wheelbox {
namespace {

using namespace std::chrono_literals;
using Kind = LinuxUpdater::Outcome::Kind;

const char *feed = R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
  <channel>
    <title>Wheelbox</title>
    <!-- newest not first, as feeds are often written -->
    <item><title>Version 0.9</title><sparkle:version>90</sparkle:version>
      <sparkle:shortVersionString>0.9</sparkle:shortVersionString></item>
    <item><title>Version 0.10</title>
      <enclosure url="https://example.invalid/wheelbox-0.10.deb" sparkle:version="100"
                 sparkle:shortVersionString="0.10"/></item>
    <item><title>No version at all</title></item>
  </channel>
</rss>)";

TEST(Appcast, ReadsReleasesFromElementsAndEnclosures)
{
    auto releases = parseAppcast(feed);
    ASSERT_EQ(releases.size(), 2u);
    EXPECT_EQ(releases[0].displayVersion(), "0.9");
    EXPECT_EQ(releases[1].version, "100");
    EXPECT_EQ(releases[1].link, "https://example.invalid/wheelbox-0.10.deb");
    EXPECT_EQ(newestRelease(releases)->displayVersion(), "0.10");
    EXPECT_EQ(newestRelease({}), std::nullopt);
}

TEST(Appcast, RefusesWhatIsNoFeed)
{
    const std::string notFeeds[] = {"",
                                    "not xml",
                                    "<rss><channel>",
                                    "<html><body>hi</body></html>",
                                    std::string(100'000, '<'),
                                    "<rss><channel><item>\xff\xfe</item></channel></rss>"};
    for (const auto &text : notFeeds)
        EXPECT_THROW(parseAppcast(text), AppcastError) << text.substr(0, 40);
    // Deep nesting is only text to walk, not recursion.
    std::string deep = "<rss><channel>";
    for (int i = 0; i < 20'000; ++i)
        deep += "<a>";
    for (int i = 0; i < 20'000; ++i)
        deep += "</a>";
    EXPECT_TRUE(parseAppcast(deep + "</channel></rss>").empty());
}

TEST(Appcast, ComparesVersionsAsFeedsDo)
{
    struct Case {
        const char *left;
        const char *right;
        int order;
    } cases[] = {{"1.10", "1.9", 1},  {"0.1.0", "0.1.0", 0}, {"0.1", "0.1.0", -1},
                 {"2.0", "2.0b1", 1}, {"1.0.1", "1.0b1", 1}, {"2.0b2", "2.0b1", 1},
                 {"010", "9", 1},     {"1.0", "1.00", 0},    {"99999999999999999999999", "1", 1},
                 {"", "0.1", -1}};
    for (const Case &c : cases) {
        EXPECT_EQ(compareVersions(c.left, c.right), c.order) << c.left << " vs " << c.right;
        EXPECT_EQ(compareVersions(c.right, c.left), -c.order) << c.right << " vs " << c.left;
    }
}

// Runs the default main context until the check reports; fails after 20 s.
LinuxUpdater::Outcome check(LinuxUpdater &updater)
{
    std::optional<LinuxUpdater::Outcome> outcome;
    updater.check([&](const LinuxUpdater::Outcome &found) { outcome = found; });
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!outcome && std::chrono::steady_clock::now() < deadline)
        g_main_context_iteration(nullptr, TRUE);
    if (!outcome) {
        ADD_FAILURE() << "no outcome";
        return {};
    }
    return *outcome;
}

class UpdaterTest : public testing::Test {
  protected:
    UpdaterTest()
    {
        std::string pattern = "/tmp/wb-updates.XXXXXX";
        folder_ = ::mkdtemp(pattern.data());
        std::ofstream(folder_ / "appcast.xml") << feed;
    }
    ~UpdaterTest() override { std::filesystem::remove_all(folder_); }

    std::string fileURL(const std::string &name) const { return "file://" + (folder_ / name).string(); }

    std::filesystem::path folder_;
};

TEST_F(UpdaterTest, WithoutAFeedUpdatesComeThroughThePackageManager)
{
    LinuxUpdater updater({"0.1.0", std::nullopt}, nullptr);
    auto outcome = check(updater);
    EXPECT_EQ(outcome.kind, Kind::packageManager);
    EXPECT_EQ(outcome.title(), "Updates come through your system");
    EXPECT_NE(outcome.detail().find("Wheelbox 0.1.0"), std::string::npos);
}

TEST_F(UpdaterTest, ReportsTheNewestVersionOfAFeedInAFile)
{
    struct Case {
        std::string current;
        Kind kind;
        std::string title;
    } cases[] = {{"0.1.0", Kind::newerAvailable, "Wheelbox 0.10 is available"},
                 {"0.10", Kind::upToDate, "Wheelbox is up to date"},
                 {"1.0", Kind::upToDate, "Wheelbox is up to date"}};
    for (const Case &c : cases) {
        LinuxUpdater updater({c.current, fileURL("appcast.xml")}, nullptr);
        auto outcome = check(updater);
        EXPECT_EQ(outcome.kind, c.kind) << c.current;
        EXPECT_EQ(outcome.title(), c.title);
        EXPECT_EQ(outcome.newestVersion, "0.10");
    }
}

TEST_F(UpdaterTest, SaysWhyACheckFailed)
{
    std::ofstream(folder_ / "broken.xml") << "<rss><channel><item>";
    std::ofstream(folder_ / "huge.xml") << std::string(LinuxUpdater::largestAppcast + 10, ' ');
    struct Case {
        std::string url;
        std::string reason;
    } cases[] = {{fileURL("missing.xml"), "No such file"},
                 {fileURL("broken.xml"), "The update feed is not well-formed"},
                 {fileURL("huge.xml"), "The update feed is larger than an update feed can be."},
                 {"ftp://example.invalid/appcast.xml", "not one Wheelbox can read"},
                 {"no address at all", "not one Wheelbox can read"}};
    for (const Case &c : cases) {
        LinuxUpdater updater({"0.1.0", c.url}, nullptr);
        auto outcome = check(updater);
        EXPECT_EQ(outcome.kind, Kind::failed) << c.url;
        EXPECT_EQ(outcome.title(), "Wheelbox couldn\u2019t check for updates");
        EXPECT_NE(outcome.reason.find(c.reason), std::string::npos) << c.url << ": " << outcome.reason;
    }
}

// A feed server on the loopback interface: the feed, an error status, one that never answers, and
// redirects to the feed at another address ("/to?ADDRESS"). Over https it uses the fixture's
// certificate, which the test trusts in place of the system's.
class FeedServer {
  public:
    enum class Scheme { http, https };

    explicit FeedServer(Scheme scheme = Scheme::http)
    {
        GError *error = nullptr;
        GTlsCertificate *certificate = nullptr;
        if (scheme == Scheme::https) {
            certificate = g_tls_certificate_new_from_files("fixtures/tls/loopback-certificate.pem",
                                                           "fixtures/tls/loopback-key.pem", &error);
            if (error)
                throw std::runtime_error(error->message);
        }
        server_ = soup_server_new("tls-certificate", certificate, nullptr);
        if (certificate)
            g_object_unref(certificate);
        soup_server_add_handler(server_, nullptr, &FeedServer::handle, this, nullptr);
        auto options = static_cast<SoupServerListenOptions>(
            SOUP_SERVER_LISTEN_IPV4_ONLY | (scheme == Scheme::https ? SOUP_SERVER_LISTEN_HTTPS : 0));
        soup_server_listen_local(server_, 0, options, &error);
        if (error)
            throw std::runtime_error(error->message);
        GSList *uris = soup_server_get_uris(server_);
        char *base = g_uri_to_string(static_cast<GUri *>(uris->data));
        base_ = base;
        g_free(base);
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }
    ~FeedServer()
    {
        for (auto *message : stalled_)
            soup_server_message_unpause(message);
        g_object_unref(server_);
    }
    std::string url(const std::string &path) const { return std::string(base_) + path; }
    int requests() const { return requests_; }

  private:
    static void handle(SoupServer *, SoupServerMessage *message, const char *path, GHashTable *,
                       gpointer data)
    {
        auto *self = static_cast<FeedServer *>(data);
        ++self->requests_;
        std::string_view requested = path;
        if (requested == "/to") {
            const char *query = g_uri_get_query(soup_server_message_get_uri(message));
            soup_server_message_set_redirect(message, 302, query ? query : "");
        } else if (requested == "/appcast.xml") {
            soup_server_message_set_status(message, 200, nullptr);
            soup_server_message_set_response(message, "application/rss+xml", SOUP_MEMORY_STATIC, feed,
                                             std::strlen(feed));
        } else if (requested == "/stalls") {
            soup_server_message_pause(message);
            self->stalled_.push_back(message);
        } else {
            soup_server_message_set_status(message, 404, nullptr);
        }
    }

    SoupServer *server_;
    std::string base_;
    std::vector<SoupServerMessage *> stalled_;
    int requests_ = 0;
};

TEST_F(UpdaterTest, ReadsAFeedServedOverHttpWithinItsDeadline)
{
    FeedServer server;
    LinuxUpdater found({"0.1.0", server.url("appcast.xml")}, nullptr);
    auto outcome = check(found);
    EXPECT_EQ(outcome.kind, Kind::newerAvailable);
    EXPECT_EQ(outcome.newestVersion, "0.10");

    LinuxUpdater missing({"0.1.0", server.url("gone.xml")}, nullptr);
    outcome = check(missing);
    EXPECT_EQ(outcome.kind, Kind::failed);
    EXPECT_EQ(outcome.reason, "The update feed answered 404 Not Found.");

    LinuxUpdater slow({"0.1.0", server.url("stalls")}, nullptr, 300ms);
    auto started = std::chrono::steady_clock::now();
    outcome = check(slow);
    EXPECT_EQ(outcome.kind, Kind::failed);
    EXPECT_EQ(outcome.reason, "The update feed did not answer in time.");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

TEST_F(UpdaterTest, AFeedReadOverHttpsIsNeverReadOverHttp)
{
    GError *error = nullptr;
    auto anchors = std::filesystem::absolute("fixtures/tls/loopback-certificate.pem");
    GTlsDatabase *trusted = g_tls_file_database_new(anchors.c_str(), &error);
    ASSERT_EQ(error, nullptr) << error->message;
    GTlsBackend *backend = g_tls_backend_get_default();
    g_tls_backend_set_default_database(backend, trusted);
    g_object_unref(trusted);

    FeedServer secure(FeedServer::Scheme::https);
    FeedServer plain;
    struct Case {
        const char *what;
        std::string feed;
        bool read;
    } cases[] = {
        {"over https", secure.url("appcast.xml"), true},
        {"moved to another https address", secure.url("to?" + secure.url("appcast.xml")), true},
        {"moved to http", secure.url("to?" + plain.url("appcast.xml")), false},
        {"moved to https, then to http", secure.url("to?" + secure.url("to?" + plain.url("appcast.xml"))),
         false},
        // Plain http was asked for: its redirects are followed as before.
        {"http moved to http", plain.url("to?" + plain.url("appcast.xml")), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        int plainBefore = plain.requests();
        LinuxUpdater updater({"0.1.0", c.feed}, nullptr);
        auto outcome = check(updater);
        if (c.read) {
            EXPECT_EQ(outcome.kind, Kind::newerAvailable) << outcome.reason;
            continue;
        }
        EXPECT_EQ(outcome.kind, Kind::failed);
        EXPECT_EQ(outcome.reason, "The update feed\u2019s address moved to one that is not secure: " +
                                      plain.url("appcast.xml"));
        EXPECT_EQ(plain.requests(), plainBefore) << "the plain address was asked";
    }
    g_tls_backend_set_default_database(backend, nullptr);
}

TEST_F(UpdaterTest, ReadsTheInstalledConfiguration)
{
    std::ofstream(folder_ / "updates.conf") << "[Updates]\nAppcastURL=https://example.invalid/appcast.xml\n";
    auto configured = LinuxUpdater::installedConfiguration(folder_, "0.1.0");
    EXPECT_EQ(configured.appcastURL, "https://example.invalid/appcast.xml");
    EXPECT_EQ(configured.currentVersion, "0.1.0");
    EXPECT_EQ(LinuxUpdater::installedConfiguration(folder_ / "nowhere", "0.1.0").appcastURL, std::nullopt);
}

TEST_F(UpdaterTest, AnUpdaterGoneBeforeItsCheckEndsReportsNothing)
{
    FeedServer server;
    bool reported = false;
    {
        LinuxUpdater updater({"0.1.0", server.url("stalls")}, nullptr);
        updater.check([&](const LinuxUpdater::Outcome &) { reported = true; });
        for (int i = 0; i < 20; ++i)
            g_main_context_iteration(nullptr, FALSE);
    }
    auto until = std::chrono::steady_clock::now() + 300ms;
    while (std::chrono::steady_clock::now() < until)
        g_main_context_iteration(nullptr, FALSE);
    EXPECT_FALSE(reported);
}

} // namespace
} // namespace wheelbox
