// wheelbox-device: the device window over a development bridge, before the application shell
// exists. It shows the real firmware from the build tree (or --firmware DIR) and reads commands,
// one a line, on standard input:
//   size large|medium|small|tiny   glare N   shadow N   hold on|off   top on|off
//   screenshot FILE.png            snapshot FILE.png (the web view's own picture)
//   eval SCRIPT                    crash (kills the web process)     quit
// Each message the firmware sends is printed as "message METHOD"; "ready" and each finished size
// change ("resized WxH at X,Y") too, so scripts can follow along. Not installed.

#include "DevelopmentBridge.hpp"
#include "platform/UserDefaults.hpp"
#include "platform/linux/GLibMainLoop.hpp"
#include "platform/linux/GdkScreens.hpp"
#include "platform/linux/GtkDeviceViews.hpp"
#include "platform/linux/WebKitDeviceWebView.hpp"
#include "window/DeviceWindowError.hpp"
#include "window/PlayerWindowController.hpp"

#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>
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

struct Program {
    GLibMainLoop &loop;
    PlayerWindowController *controller = nullptr;

    void say(const std::string &line) { std::cout << line << std::endl; }

    void command(const std::string &line)
    {
        std::istringstream words(line);
        std::string verb;
        std::string argument;
        words >> verb >> argument;
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
            controller->webView().evaluateJavaScript(line.substr(line.find(' ') + 1));
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
            say("sessions " +
                std::to_string(static_cast<DevelopmentBridge &>(controller->bridge()).sessionResets()));
        } else if (verb == "quit") {
            loop.quit();
        } else if (!verb.empty()) {
            say("error: unknown command " + verb);
        }
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

} // namespace

int main(int argc, char **argv)
{
    gdk_set_allowed_backends("x11");
    std::optional<std::filesystem::path> firmware = WebResourceSchemeHandler::firmwareRootURL();
    std::optional<std::filesystem::path> data;
    for (int index = 1; index < argc; ++index) {
        std::string argument = argv[index];
        if (argument == "--firmware" && index + 1 < argc)
            firmware = argv[++index];
        else if (argument == "--data" && index + 1 < argc)
            data = argv[++index];
        else if (argument == "--help" || argument == "-h") {
            std::cout << "usage: wheelbox-device [--firmware DIR] [--data DIR]\n";
            return 0;
        }
    }
    if (!gtk_init_check(&argc, &argv)) {
        std::cerr << "wheelbox-device: cannot open a display\n";
        return 1;
    }

    GLibMainLoop loop;
    InMemoryUserDefaults defaults;
    GdkScreens screens(gdk_display_get_default());
    GtkDeviceViews::Storage storage = GtkDeviceViews::userStorage();
    if (data)
        storage = {*data / "data", *data / "cache"};
    GtkDeviceViews views(screens, storage);
    Program program{loop};

    std::unique_ptr<PlayerWindowController> controller;
    try {
        controller = std::make_unique<PlayerWindowController>(PlayerWindowController::Environment{
            loop,
            defaults,
            screens,
            views,
            [&program] {
                return std::make_unique<DevelopmentBridge>(
                    [&program](const std::string &method) { program.say("message " + method); });
            },
            firmware,
            [](const std::string &line) { g_log("velto", G_LOG_LEVEL_WARNING, "%s", line.c_str()); },
        });
    } catch (const DeviceWindowError &error) {
        std::cerr << "wheelbox-device: " << error.what() << "\n";
        return 1;
    }
    program.controller = controller.get();
    controller->setWindowClosedHandler([&loop] { loop.quit(); });
    controller->showWindow();

    GIOChannel *input = g_io_channel_unix_new(STDIN_FILENO);
    g_io_add_watch(input, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR), &Program::onInput, &program);
    g_io_channel_unref(input);
    auto quit = [](gpointer mainLoop) -> gboolean {
        static_cast<GLibMainLoop *>(mainLoop)->quit();
        return G_SOURCE_REMOVE;
    };
    g_unix_signal_add(SIGINT, quit, &loop);
    g_unix_signal_add(SIGTERM, quit, &loop);

    loop.run();
    controller->shutdown();
    controller.reset();
    return 0;
}
