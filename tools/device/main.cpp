// wheelbox-device: the device window over the real bridge and back end, without the application
// around it (no menu, no MPD of its own, no single instance). It shows the firmware from the build
// tree (or --firmware DIR), plays through the MPD every client finds (MPD_HOST / MPD_PORT, the
// user's socket, /run/mpd/socket, localhost:6600), and reads commands, one a line, on standard
// input:
//   size large|medium|small|tiny   glare N   shadow N   hold on|off   top on|off   frame
//   screenshot FILE.png            snapshot FILE.png (the web view's own picture)
//   eval SCRIPT                    query SCRIPT (prints "result JSON", or "error: TEXT")
//   sessions                       crash (kills the web process)    quit
// Each message the firmware sends is printed as "message METHOD", and each command's outcome as
// one line, so scripts can follow along. Not installed.

#include "ObservedBridge.hpp"
#include "bridge/NativeBridge.hpp"
#include "lib/glib/GLibPointers.hpp"
#include "lib/posix/BrokenPipe.hpp"
#include "linux/ApplicationBackEnd.hpp"
#include "linux/FileUserDefaults.hpp"
#include "linux/GLibMainLoop.hpp"
#include "linux/GdkScreens.hpp"
#include "linux/GtkDeviceViews.hpp"
#include "linux/LinuxArtwork.hpp"
#include "linux/LinuxPowerSource.hpp"
#include "linux/MpdAlbumLocations.hpp"
#include "linux/MpdLocator.hpp"
#include "linux/WebKitDeviceWebView.hpp"
#include "platform/AutomationTool.hpp"
#include "platform/Clock.hpp"
#include "platform/HapticPerformer.hpp"
#include "window/DeviceWindowError.hpp"
#include "window/PlayerWindowController.hpp"

#include <gtk/gtk.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <glib-unix.h>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace {

using namespace wheelbox;

// The web content processes this program started.
std::vector<pid_t> webProcesses()
{
    std::vector<pid_t> found;
    DIR *proc = opendir("/proc");
    if (!proc)
        return found;
    while (dirent *entry = readdir(proc)) {
        pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0)
            continue;
        std::string path = "/proc/" + std::string(entry->d_name) + "/stat";
        FILE *file = std::fopen(path.c_str(), "r");
        if (!file)
            continue;
        char name[64] = {};
        int parent = 0;
        if (std::fscanf(file, "%*d (%63[^)]) %*c %d", name, &parent) == 2 && parent == getpid() &&
            std::strncmp(name, "WebKitWebProces", 15) == 0)
            found.push_back(pid);
        std::fclose(file);
    }
    closedir(proc);
    return found;
}

bool saveScreenshot(const std::string &file)
{
    GdkWindow *root = gdk_get_default_root_window();
    GdkPixbuf *picture =
        gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root), gdk_window_get_height(root));
    if (!picture)
        return false;
    bool saved = gdk_pixbuf_save(picture, file.c_str(), "png", nullptr, nullptr);
    g_object_unref(picture);
    return saved;
}

// The MPD the back end and the script tool talk to, found as the application finds it; the
// program starts none of its own. Called while this is the only thread.
mpd::MpdAddress chooseMpd()
{
    // With none, the library says which MPD it could not reach.
    auto choice = MpdLocator::chooseForProgram(mpd::defaultMpdAddress());
    if (choice.source == MpdLocator::Choice::Source::none)
        std::cerr << "wheelbox-device: no MPD answers; set MPD_HOST to name one\n";
    return choice.address;
}

struct Program {
    GLibMainLoop &loop;
    PlayerWindowController *controller = nullptr;
    ObservedBridge *bridge = nullptr;

    void say(const std::string &line) { std::cout << line << std::endl; }

    void command(const std::string &line)
    {
        std::istringstream words(line);
        std::string verb;
        std::string argument;
        words >> verb >> argument;
        // The rest of the line after the verb, for the commands that take a script.
        std::string rest = line.find(' ') == std::string::npos ? "" : line.substr(line.find(' ') + 1);
        if (verb == "size") {
            auto size = deviceSizeFromRawValue(argument);
            if (!size)
                return say("error: no size " + argument);
            controller->applyDeviceSize(*size);
        } else if (verb == "glare" || verb == "shadow") {
            double amount = std::strtod(argument.c_str(), nullptr);
            verb == "glare" ? controller->applyGlareAmount(amount) : controller->applyShadowAmount(amount);
        } else if (verb == "hold") {
            controller->applyHold(argument == "on");
        } else if (verb == "top") {
            controller->window().setLevel(argument == "on" ? floatingWindowLevel : normalWindowLevel);
        } else if (verb == "screenshot") {
            say(saveScreenshot(argument) ? "saved " + argument : "error: could not save " + argument);
        } else if (verb == "snapshot") {
            // What the resize hand-over would lay over the window: the web view's own picture.
            controller->webView().takeSnapshot([this, argument](std::unique_ptr<Snapshot> snapshot) {
                auto *picture = dynamic_cast<WebKitSnapshot *>(snapshot.get());
                bool saved = picture && cairo_surface_write_to_png(picture->surface(), argument.c_str()) ==
                                            CAIRO_STATUS_SUCCESS;
                say(saved ? "saved " + argument : "error: no snapshot");
            });
        } else if (verb == "eval") {
            controller->webView().evaluateJavaScript(rest);
        } else if (verb == "query") {
            query(rest);
        } else if (verb == "crash") {
            for (pid_t pid : webProcesses())
                ::kill(pid, SIGKILL);
        } else if (verb == "frame") {
            Rect frame = controller->window().frame();
            std::ostringstream text;
            text << "frame " << frame.origin.x << " " << frame.origin.y << " " << frame.size.width << " "
                 << frame.size.height;
            say(text.str());
        } else if (verb == "sessions") {
            say("sessions " + std::to_string(bridge->sessionResets()));
        } else if (verb == "quit") {
            loop.quit();
        } else if (!verb.empty()) {
            say("error: unknown command " + verb);
        }
    }

    // Evaluates `script` in the page and prints its value as one line of JSON.
    void query(const std::string &script)
    {
        auto *view = dynamic_cast<WebKitDeviceWebView *>(&controller->webView());
        if (!view)
            return say("error: no web view");
        webkit_web_view_evaluate_javascript(view->view(), script.c_str(), -1, nullptr, nullptr, nullptr,
                                            &Program::onQueryResult, this);
    }

    static void onQueryResult(GObject *source, GAsyncResult *result, gpointer data)
    {
        auto *self = static_cast<Program *>(data);
        GError *failure = nullptr;
        glib::ObjectPtr<JSCValue> value(
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &failure));
        glib::ErrorPtr error(failure);
        if (!value)
            return self->say(std::string("error: ") + (error ? error->message : "no value"));
        // Undefined has no JSON form.
        glib::CharPtr json(jsc_value_is_undefined(value.get()) ? nullptr : jsc_value_to_json(value.get(), 0));
        self->say("result " + std::string(json ? json.get() : "null"));
    }

    static gboolean onInput(GIOChannel *channel, GIOCondition condition, gpointer data)
    {
        auto *self = static_cast<Program *>(data);
        if (condition & G_IO_IN) {
            gchar *line = nullptr;
            gsize length = 0;
            GIOStatus status = g_io_channel_read_line(channel, &line, &length, nullptr, nullptr);
            if (status == G_IO_STATUS_NORMAL && line) {
                std::string text(line, length);
                g_free(line);
                while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                    text.pop_back();
                self->command(text);
                return G_SOURCE_CONTINUE;
            }
            g_free(line);
            if (status == G_IO_STATUS_AGAIN)
                return G_SOURCE_CONTINUE;
        }
        // End of input: keep running until the window is closed or a signal arrives.
        return G_SOURCE_REMOVE;
    }
};

int run(int argc, char **argv)
{
    // The script tool's environment is taken while this is the only thread.
    captureAutomationToolEnvironment();
    gdk_set_allowed_backends("x11");
    std::optional<std::filesystem::path> firmware = WebResourceSchemeHandler::firmwareRoot();
    std::optional<std::filesystem::path> data;
    std::optional<std::filesystem::path> music;
    for (int index = 1; index < argc; ++index) {
        std::string argument = argv[index];
        if (argument == "--firmware" && index + 1 < argc) {
            firmware = argv[++index];
        } else if (argument == "--data" && index + 1 < argc) {
            data = argv[++index];
        } else if (argument == "--music" && index + 1 < argc) {
            music = argv[++index];
        } else {
            std::cerr << "usage: wheelbox-device [--firmware DIR] [--data DIR] [--music DIR]\n"
                         "  --data DIR   keep the settings, the page's storage, WebKit's cache and the\n"
                         "               covers in DIR rather than the application's own\n"
                         "  --music DIR  MPD's music folder: read folder.*, front.* and cover.* pictures\n"
                         "               from it, as the application does for the MPD it runs itself\n";
            return argument == "--help" || argument == "-h" ? 0 : 2;
        }
    }
    // As the application does: WebKit cannot set its sandbox up for root in a container.
    if (::geteuid() == 0)
        ::setenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1", 1);
    mpd::MpdAddress mpdAddress = chooseMpd();
    if (!gtk_init_check(&argc, &argv)) {
        std::cerr << "wheelbox-device: cannot open a display\n";
        return 1;
    }

    GLibMainLoop loop;
    FileUserDefaults defaults(data ? *data / "config" : FileUserDefaults::defaultFolder());
    GdkScreens screens(gdk_display_get_default());
    GtkDeviceViews::Storage storage = GtkDeviceViews::userStorage();
    if (data)
        storage = {*data / "data", *data / "cache"};
    GtkDeviceViews views(screens, storage);
    LinuxPowerSource powerSource;
    NoHapticPerformer haptics;
    auto quitting = std::make_shared<std::atomic<bool>>(false);
    Program program{loop};
    auto quit = [&loop, quitting] {
        quitting->store(true);
        loop.quit();
    };

    auto albums = std::make_shared<MpdAlbumLocations>();
    LinuxArtwork artwork({.cacheFolder = data ? *data / "cache" / "artwork" : LinuxArtwork::userCacheFolder(),
                          .mpdAddress = mpdAddress,
                          .musicFolder = music,
                          .albums = albums});

    auto makeBridge = [&]() -> std::unique_ptr<DeviceBridge> {
        auto bridge = std::make_unique<NativeBridge>(
            // The MPD every client finds is never the application's own.
            makeApplicationBackEnd({.defaults = defaults,
                                    .mpdAddress = mpdAddress,
                                    .mpdStatus = nullptr,
                                    .quitting = quitting,
                                    .ownMusicFolder = std::nullopt,
                                    .artwork = &artwork,
                                    .albumLocations = albums}),
            BridgeServices{loop, Clock::system(), defaults, haptics, powerSource, [&loop, quit] {
                               // After the answer to "quit" is on its way.
                               loop.post(quit);
                           }});
        auto observed = std::make_unique<ObservedBridge>(
            std::move(bridge), [&program](const std::string &method) { program.say("message " + method); });
        program.bridge = observed.get();
        return observed;
    };
    std::unique_ptr<PlayerWindowController> controller;
    try {
        controller = std::make_unique<PlayerWindowController>(PlayerWindowController::Environment{
            loop,
            defaults,
            screens,
            views,
            makeBridge,
            firmware,
            [](const std::string &line) { g_log("velto", G_LOG_LEVEL_WARNING, "%s", line.c_str()); },
            &artwork,
        });
    } catch (const DeviceWindowError &error) {
        std::cerr << "wheelbox-device: " << error.what() << "\n";
        return 1;
    }
    program.controller = controller.get();
    controller->setWindowClosedHandler(quit);
    controller->showWindow();

    GIOChannel *input = g_io_channel_unix_new(STDIN_FILENO);
    g_io_add_watch(input, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR), &Program::onInput, &program);
    g_io_channel_unref(input);
    auto onSignal = [](gpointer action) -> gboolean {
        (*static_cast<decltype(quit) *>(action))();
        return G_SOURCE_CONTINUE;
    };
    guint interrupt = g_unix_signal_add(SIGINT, onSignal, &quit);
    guint terminate = g_unix_signal_add(SIGTERM, onSignal, &quit);

    loop.run();
    quitting->store(true);
    g_source_remove(interrupt);
    g_source_remove(terminate);
    // The bridge, and with it the media queue and the back end, ends here on the main thread.
    controller->shutdown();
    controller.reset();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    posix::ignoreBrokenPipes();
    try {
        return run(argc, argv);
    } catch (const std::exception &error) {
        std::cerr << "wheelbox-device: " << error.what() << "\n";
        return 1;
    }
}
