// The device window against the plain engine, in one run so the ratios hold on any machine:
//   deviceWindowToReady   PlayerWindowController built (window, web view, scheme handler, bridge
//                         stand-in) until the firmware says "ready"
//   bareWebViewToReady    a bare WebKitGTK web view in a GTK window loading the same index.html
//                         from a file: URL (modules allowed from files) until the same "ready"
//   bareSchemeWebViewToReady  the same bare view served over velto://app by the scheme handler:
//                         splits the difference between the scheme and the rest of the window
//   schemeServesFirmware  every firmware file through WebResourceSchemeHandler to its answer
//   diskReadsFirmware     every firmware file read from disk
// Needs an X display (scripts/bench starts Xvfb when there is none).

#include "DevelopmentBridge.hpp"
#include "linux/GLibMainLoop.hpp"
#include "linux/GdkScreens.hpp"
#include "linux/GtkDeviceViews.hpp"
#include "linux/WebKitSchemeAdapter.hpp"
#include "platform/UserDefaults.hpp"
#include "web/WebResourceSchemeHandler.hpp"
#include "window/PlayerWindowController.hpp"

#include <benchmark/benchmark.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <unistd.h>

namespace wheelbox {
namespace {

std::filesystem::path firmware()
{
    auto root = WebResourceSchemeHandler::firmwareRoot();
    if (!root)
        throw std::runtime_error("no firmware in the build tree");
    return *root;
}

std::filesystem::path storage()
{
    static std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "wheelbox-bench.XXXXXX").string();
        return std::filesystem::path(::mkdtemp(pattern.data()));
    }();
    return folder;
}

// Turns the default main context until `done` holds; false after 60 s.
bool runUntil(const std::function<bool()> &done)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        g_main_context_iteration(nullptr, TRUE);
    }
    return true;
}

void deviceWindowToReady(benchmark::State &state)
{
    GLibMainLoop loop;
    GdkScreens screens(gdk_display_get_default());
    GtkDeviceViews views(screens, {storage() / "device" / "data", storage() / "device" / "cache"});
    for (auto _ : state) {
        InMemoryUserDefaults defaults;
        bool ready = false;
        auto controller = std::make_unique<PlayerWindowController>(PlayerWindowController::Environment{
            loop,
            defaults,
            screens,
            views,
            [&ready] {
                return std::make_unique<DevelopmentBridge>([&ready](const std::string &method) {
                    if (method == "ready")
                        ready = true;
                });
            },
            firmware(),
            {},
        });
        controller->showWindow();
        if (!runUntil([&] { return ready; }))
            state.SkipWithError("the firmware never said ready");
        state.PauseTiming();
        controller->shutdown();
        controller.reset();
        state.ResumeTiming();
    }
}

// `scheme` true: the same bare view, but served through WebResourceSchemeHandler over velto://app.
void bareWebView(benchmark::State &state, bool scheme)
{
    GLibMainLoop loop;
    auto handler = WebResourceSchemeHandler::make(firmware(), loop);
    std::string index =
        scheme ? WebResourceSchemeHandler::startURL() : "file://" + (firmware() / "index.html").string();
    for (auto _ : state) {
        bool ready = false;
        WebKitWebsiteDataManager *data = webkit_website_data_manager_new(
            "base-data-directory", (storage() / "bare" / "data").c_str(), "base-cache-directory",
            (storage() / "bare" / "cache").c_str(), nullptr);
        WebKitWebContext *context = webkit_web_context_new_with_website_data_manager(data);
        if (scheme)
            WebKitSchemeAdapter::registerScheme(context, *handler);
        WebKitUserContentManager *content = webkit_user_content_manager_new();
        g_signal_connect(
            content, "script-message-received::velto",
            G_CALLBACK(+[](WebKitUserContentManager *, WebKitJavascriptResult *result, gpointer flag) {
                glib::CharPtr json(jsc_value_to_json(webkit_javascript_result_get_js_value(result), 0));
                if (json && std::string_view(json.get()).find("\"ready\"") != std::string_view::npos)
                    *static_cast<bool *>(flag) = true;
            }),
            &ready);
        webkit_user_content_manager_register_script_message_handler(content, "velto");
        GtkWidget *view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                                  "user-content-manager", content, nullptr));
        WebKitSettings *settings = webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view));
        webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
        webkit_settings_set_allow_universal_access_from_file_urls(settings, TRUE);
        GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window), 470, 770);
        gtk_container_add(GTK_CONTAINER(window), view);
        gtk_widget_show_all(window);
        webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), index.c_str());
        if (!runUntil([&] { return ready; }))
            state.SkipWithError("the firmware never said ready from a file: URL");
        state.PauseTiming();
        gtk_widget_destroy(window);
        g_object_unref(content);
        g_object_unref(context);
        g_object_unref(data);
        runUntil([] { return !g_main_context_pending(nullptr); });
        state.ResumeTiming();
    }
}

// Answers of the scheme handler, counted.
class CountingTask final : public SchemeTask {
  public:
    CountingTask(std::string url, int &answered) : url_(std::move(url)), answered_(answered) {}
    std::optional<std::string> requestURL() const override { return url_; }
    std::optional<std::string> requestMethod() const override { return "GET"; }
    void didReceiveResponse(const SchemeResponse &) override {}
    void didReceiveData(std::vector<std::byte> data) override { benchmark::DoNotOptimize(data.data()); }
    void didFinish() override { ++answered_; }
    void didFailWithError(const WebResourceError &) override { ++answered_; }

  private:
    std::string url_;
    int &answered_;
};

std::vector<std::filesystem::path> firmwareFiles()
{
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(firmware())) {
        if (entry.is_regular_file())
            files.push_back(std::filesystem::relative(entry.path(), firmware()));
    }
    return files;
}

void bareWebViewToReady(benchmark::State &state)
{
    bareWebView(state, false);
}

void bareSchemeWebViewToReady(benchmark::State &state)
{
    bareWebView(state, true);
}

void schemeServesFirmware(benchmark::State &state)
{
    GLibMainLoop loop;
    auto handler = WebResourceSchemeHandler::make(firmware(), loop);
    auto files = firmwareFiles();
    for (auto _ : state) {
        int answered = 0;
        for (const auto &file : files)
            handler->start(std::make_shared<CountingTask>("velto://app/" + file.string(), answered));
        runUntil([&] { return answered == int(files.size()); });
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(files.size()));
}

void diskReadsFirmware(benchmark::State &state)
{
    auto files = firmwareFiles();
    for (auto _ : state) {
        for (const auto &file : files) {
            std::ifstream in(firmware() / file, std::ios::binary | std::ios::ate);
            std::vector<char> data(static_cast<std::size_t>(in.tellg()));
            in.seekg(0);
            in.read(data.data(), std::streamsize(data.size()));
            benchmark::DoNotOptimize(data.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(files.size()));
}

} // namespace
} // namespace wheelbox

int main(int argc, char **argv)
{
    gdk_set_allowed_backends("x11");
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "window_benchmark: no X display\n");
        return 1;
    }
    using namespace wheelbox;
    // Rounds alternate the two sides, so a slow moment of a shared machine falls on both alike.
    for (int round = 1; round <= 3; ++round) {
        auto suffix = "/round:" + std::to_string(round);
        benchmark::RegisterBenchmark(("bareWebViewToReady" + suffix).c_str(), bareWebViewToReady)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(4);
        benchmark::RegisterBenchmark(("bareSchemeWebViewToReady" + suffix).c_str(), bareSchemeWebViewToReady)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(4);
        benchmark::RegisterBenchmark(("deviceWindowToReady" + suffix).c_str(), deviceWindowToReady)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(4);
        benchmark::RegisterBenchmark(("diskReadsFirmware" + suffix).c_str(), diskReadsFirmware)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("schemeServesFirmware" + suffix).c_str(), schemeServesFirmware)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
