#include "linux/LinuxUpdater.hpp"

#include "lib/glib/GLibPointers.hpp"
#include "linux/Appcast.hpp"

#include <gio/gio.h>
#include <libsoup/soup.h>

#include <vector>

namespace wheelbox {

struct LinuxUpdater::Fetch {
    std::string currentVersion;
    glib::ObjectPtr<GCancellable> cancellable{g_cancellable_new()};
    glib::ObjectPtr<SoupSession> session;
    glib::ObjectPtr<SoupMessage> message;
    glib::ObjectPtr<GInputStream> stream;
    std::vector<char> buffer;
    guint timer = 0;
    bool timedOut = false;
    bool finished = false;
    std::string invalidAddress;
    // Where a feed read over https was sent on to over plain http, which is not followed.
    std::string insecureRedirect;
    std::vector<std::function<void(const Outcome &)>> waiters;
    // Cleared when the updater goes; the fetch then ends without telling anyone.
    LinuxUpdater *owner = nullptr;

    // Each asynchronous step holds the fetch through one of these.
    static gpointer hold(const std::shared_ptr<Fetch> &fetch) { return new std::shared_ptr<Fetch>(fetch); }
    static std::shared_ptr<Fetch> release(gpointer data)
    {
        std::unique_ptr<std::shared_ptr<Fetch>> held(static_cast<std::shared_ptr<Fetch> *>(data));
        return *held;
    }

    void fail(const std::string &reason)
    {
        Outcome outcome;
        outcome.kind = Outcome::Kind::failed;
        outcome.currentVersion = currentVersion;
        outcome.reason = reason;
        finish(outcome);
    }

    ~Fetch()
    {
        if (message)
            g_signal_handlers_disconnect_by_data(message.get(), this);
    }

    void failWith(GError *error)
    {
        glib::ErrorPtr owned(error);
        if (!insecureRedirect.empty())
            fail("The update feed\u2019s address moved to one that is not secure: " + insecureRedirect);
        else if (timedOut)
            fail("The update feed did not answer in time.");
        else
            fail(owned && owned->message ? owned->message : "The update feed could not be read.");
    }

    void finish(const Outcome &outcome)
    {
        if (finished)
            return;
        finished = true;
        if (timer)
            g_source_remove(timer);
        timer = 0;
        auto *updater = owner;
        if (!updater)
            return;
        updater->running_.reset();
        for (auto &waiter : waiters)
            waiter(outcome);
    }

    void readAll(const std::shared_ptr<Fetch> &self, GInputStream *input)
    {
        stream.reset(G_INPUT_STREAM(g_object_ref(input)));
        buffer.resize(largestAppcast + 1);
        g_input_stream_read_all_async(stream.get(), buffer.data(), buffer.size(), G_PRIORITY_DEFAULT,
                                      cancellable.get(), &Fetch::onRead, hold(self));
    }

    static void onOpened(GObject *source, GAsyncResult *result, gpointer data)
    {
        auto self = release(data);
        GError *error = nullptr;
        glib::ObjectPtr<GFileInputStream> input(g_file_read_finish(G_FILE(source), result, &error));
        if (!input)
            return self->failWith(error);
        self->readAll(self, G_INPUT_STREAM(input.get()));
    }

    static void onSent(GObject *source, GAsyncResult *result, gpointer data)
    {
        auto self = release(data);
        GError *error = nullptr;
        glib::ObjectPtr<GInputStream> input(soup_session_send_finish(SOUP_SESSION(source), result, &error));
        if (!input)
            return self->failWith(error);
        guint status = soup_message_get_status(self->message.get());
        if (status != SOUP_STATUS_OK)
            return self->fail("The update feed answered " + std::to_string(status) + " " +
                              (soup_message_get_reason_phrase(self->message.get())
                                   ? soup_message_get_reason_phrase(self->message.get())
                                   : "") +
                              ".");
        self->readAll(self, input.get());
    }

    static void onRead(GObject *source, GAsyncResult *result, gpointer data)
    {
        auto self = release(data);
        GError *error = nullptr;
        gsize length = 0;
        if (!g_input_stream_read_all_finish(G_INPUT_STREAM(source), result, &length, &error))
            return self->failWith(error);
        if (length > largestAppcast)
            return self->fail("The update feed is larger than an update feed can be.");
        try {
            auto releases = parseAppcast(std::string_view(self->buffer.data(), length));
            auto newest = newestRelease(releases);
            if (!newest)
                return self->fail("The update feed lists no version.");
            Outcome outcome;
            outcome.currentVersion = self->currentVersion;
            outcome.newestVersion = newest->displayVersion();
            outcome.link = newest->link;
            outcome.kind = compareVersions(outcome.newestVersion, self->currentVersion) > 0
                               ? Outcome::Kind::newerAvailable
                               : Outcome::Kind::upToDate;
            self->finish(outcome);
        } catch (const AppcastError &problem) {
            self->fail(problem.what());
        }
    }

    // A feed read over https is read over https to the end: a redirect elsewhere is cut off before
    // it is sent again.
    static void onRestarted(SoupMessage *message, gpointer data)
    {
        auto *self = static_cast<Fetch *>(data);
        GUri *uri = soup_message_get_uri(message);
        if (uri && g_ascii_strcasecmp(g_uri_get_scheme(uri), "https") == 0)
            return;
        glib::CharPtr text(uri ? g_uri_to_string(uri) : g_strdup("?"));
        self->insecureRedirect = text.get();
        g_cancellable_cancel(self->cancellable.get());
    }

    static gboolean onTimeout(gpointer data)
    {
        auto *self = static_cast<Fetch *>(data);
        self->timer = 0;
        self->timedOut = true;
        g_cancellable_cancel(self->cancellable.get());
        return G_SOURCE_REMOVE;
    }
};

std::string LinuxUpdater::Outcome::title() const
{
    switch (kind) {
    case Kind::packageManager:
        return "Updates come through your system";
    case Kind::upToDate:
        return "Wheelbox is up to date";
    case Kind::newerAvailable:
        return "Wheelbox " + newestVersion + " is available";
    case Kind::failed:
        return "Wheelbox couldn\u2019t check for updates";
    }
    return {};
}

std::string LinuxUpdater::Outcome::detail() const
{
    switch (kind) {
    case Kind::packageManager:
        return "This is Wheelbox " + currentVersion +
               ". Your system\u2019s package manager or software centre installs newer versions.";
    case Kind::upToDate:
        return "Version " + currentVersion + " is the newest version.";
    case Kind::newerAvailable:
        return "You have version " + currentVersion +
               ". Install the new one with your system\u2019s package manager or software centre." +
               (link ? "\n\n" + *link : std::string());
    case Kind::failed:
        return reason;
    }
    return {};
}

LinuxUpdater::Configuration LinuxUpdater::installedConfiguration(const std::filesystem::path &shareFolder,
                                                                 std::string currentVersion)
{
    Configuration configuration{std::move(currentVersion), std::nullopt};
    GKeyFile *file = g_key_file_new();
    auto path = shareFolder / configurationFileName;
    if (g_key_file_load_from_file(file, path.c_str(), G_KEY_FILE_NONE, nullptr)) {
        glib::CharPtr url(g_key_file_get_string(file, "Updates", "AppcastURL", nullptr));
        if (url && *url.get())
            configuration.appcastURL = std::string(url.get());
    }
    g_key_file_free(file);
    return configuration;
}

LinuxUpdater::LinuxUpdater(Configuration configuration, Presenter presenter,
                           std::chrono::milliseconds timeout)
    : configuration_(std::move(configuration)), presenter_(std::move(presenter)), timeout_(timeout)
{}

LinuxUpdater::~LinuxUpdater()
{
    if (running_) {
        running_->owner = nullptr;
        g_cancellable_cancel(running_->cancellable.get());
        if (running_->timer)
            g_source_remove(running_->timer);
        running_->timer = 0;
    }
}

void LinuxUpdater::checkForUpdates()
{
    check([this](const Outcome &outcome) {
        if (presenter_)
            presenter_(outcome);
    });
}

void LinuxUpdater::check(std::function<void(const Outcome &)> done)
{
    if (running_) {
        running_->waiters.push_back(std::move(done));
        return;
    }
    auto fetch = std::make_shared<Fetch>();
    fetch->currentVersion = configuration_.currentVersion;
    fetch->owner = this;
    fetch->waiters.push_back(std::move(done));
    if (!configuration_.appcastURL) {
        // Answered on the loop, as a fetched one would be.
        running_ = fetch;
        g_idle_add(
            [](gpointer data) -> gboolean {
                auto self = Fetch::release(data);
                Outcome outcome;
                outcome.kind = Outcome::Kind::packageManager;
                outcome.currentVersion = self->currentVersion;
                self->finish(outcome);
                return G_SOURCE_REMOVE;
            },
            Fetch::hold(fetch));
        return;
    }
    running_ = fetch;
    const std::string &url = *configuration_.appcastURL;
    glib::CharPtr scheme(g_uri_parse_scheme(url.c_str()));
    std::string_view kind = scheme ? std::string_view(scheme.get()) : std::string_view();
    fetch->timer = g_timeout_add(static_cast<guint>(timeout_.count()), &Fetch::onTimeout, fetch.get());
    if (kind == "file") {
        glib::ObjectPtr<GFile> file(g_file_new_for_uri(url.c_str()));
        g_file_read_async(file.get(), G_PRIORITY_DEFAULT, fetch->cancellable.get(), &Fetch::onOpened,
                          Fetch::hold(fetch));
        return;
    }
    SoupMessage *message = kind == "http" || kind == "https" ? soup_message_new("GET", url.c_str()) : nullptr;
    if (!message) {
        fetch->invalidAddress = "The update feed\u2019s address is not one Wheelbox can read: " + url;
        g_idle_add(
            [](gpointer data) -> gboolean {
                auto self = Fetch::release(data);
                self->fail(self->invalidAddress);
                return G_SOURCE_REMOVE;
            },
            Fetch::hold(fetch));
        return;
    }
    fetch->message.reset(message);
    if (kind == "https")
        g_signal_connect(message, "restarted", G_CALLBACK(&Fetch::onRestarted), fetch.get());
    fetch->session.reset(
        soup_session_new_with_options("user-agent", ("Wheelbox/" + fetch->currentVersion).c_str(), "timeout",
                                      guint(timeout_.count() / 1000 + 1), nullptr));
    soup_session_send_async(fetch->session.get(), message, G_PRIORITY_DEFAULT, fetch->cancellable.get(),
                            &Fetch::onSent, Fetch::hold(fetch));
}

} // namespace wheelbox
