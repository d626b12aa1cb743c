// The device window as a user meets it: the real firmware in a real WebKitGTK web view, in a GTK
// window on an X display (Xvfb from tests/services/up), clicked and dragged with xdotool. Only the
// bridge is a stand-in. Each test runs in a process of its own; they share the display, so ctest
// runs them one at a time.

#include "DevelopmentBridge.hpp"
#include "bridge/PageScript.hpp"
#include "linux/GLibMainLoop.hpp"
#include "linux/GdkScreens.hpp"
#include "linux/GtkDeviceViews.hpp"
#include "linux/GtkDeviceWindow.hpp"
#include "linux/WebKitDeviceWebView.hpp"
#include "platform/UserDefaults.hpp"
#include "support/Processes.hpp"
#include "support/ServiceEnvironment.hpp"
#include "window/PlayerWindowController.hpp"
#include "window/SavedFrame.hpp"
#include "window/ScreenFitting.hpp"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

// GTK, fontconfig and WebKit keep allocations for the life of the process, which LeakSanitizer
// would report at exit; the address and undefined-behaviour checks stay on.
extern "C" const char *__asan_default_options()
{
    return "detect_leaks=0";
}

namespace wheelbox {
namespace {

using namespace std::chrono_literals;

class DeviceWindowDisplayTest : public testing::Test {
  protected:
    void SetUp() override
    {
        std::string display;
        WHEELBOX_SERVICE_VARIABLE(display, "WHEELBOX_TEST_DISPLAY");
        ::setenv("DISPLAY", display.c_str(), 1);
        ::setenv("NO_AT_BRIDGE", "1", 1);
        // Without a session bus GLib would autolaunch one, with an accessibility bus on it, and
        // both outlive the test: the services' private bus, else none.
        const char *bus = std::getenv("WHEELBOX_TEST_DBUS_ADDRESS");
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus && *bus ? bus : "disabled:", 0);
        ::setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        // WebKit's bubblewrap sandbox cannot be set up by root in a container (CI runs as root).
        if (::geteuid() == 0)
            ::setenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1", 1);
        gdk_set_allowed_backends("x11");
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "cannot open display " << display;

        showDesktop();

        std::string pattern = (std::filesystem::temp_directory_path() / "wheelbox-window.XXXXXX").string();
        storage_ = ::mkdtemp(pattern.data());
        loop_ = std::make_unique<GLibMainLoop>();
        screens_ = std::make_unique<GdkScreens>(gdk_display_get_default());
        views_ = std::make_unique<GtkDeviceViews>(
            *screens_, GtkDeviceViews::Storage{storage_ / "data", storage_ / "cache"});
        controller_ = std::make_unique<PlayerWindowController>(PlayerWindowController::Environment{
            *loop_,
            defaults_,
            *screens_,
            *views_,
            [this] {
                auto bridge = std::make_unique<DevelopmentBridge>(
                    [this](const std::string &method) { methods_.push_back(method); });
                bridge_ = bridge.get();
                return bridge;
            },
            WebResourceSchemeHandler::firmwareRoot(),
            [this](const std::string &line) { log_.push_back(line); },
        });
        controller_->showWindow();
        // Until the firmware has painted, the window shows nothing of itself: the desktop stays.
        Point middle{controller_->window().frame().size.width / 2,
                     controller_->window().frame().size.height / 2};
        ASSERT_TRUE(runUntil(
            [&] {
                if (!controller_->isContentVisible() && !isDesktop(middle.x, middle.y))
                    coveredBeforeContent_ = true;
                return controller_->isContentVisible();
            },
            60s));
        ASSERT_TRUE(runUntil([this] { return count("ready") == 1; }, 60s)) << "the firmware never said ready";
        // The page is idle once it has rendered two frames, and on the screen once the wheel shows.
        settle();
        Point wheel = wheelCentre(controller_->window().frame().size);
        ASSERT_TRUE(runUntil([&] { return brightness(wheel.x, wheel.y) > 16; }, 30s))
            << "the device never showed";
    }

    void TearDown() override
    {
        if (controller_) {
            controller_->shutdown();
            controller_.reset();
        }
        views_.reset();
        screens_.reset();
        desktop_.reset();
        loop_.reset();
        if (!storage_.empty())
            std::filesystem::remove_all(storage_);
    }

    // A desktop of one colour under every window: the display has no window manager to draw one,
    // and its own background is black, as a window that shows transparent pixels without a
    // compositor would be.
    static constexpr guchar desktopColour[3] = {0x4a, 0x7f, 0xb0};

    void showDesktop()
    {
        desktop_ = gtk::adoptWidget(gtk_window_new(GTK_WINDOW_TOPLEVEL));
        GtkWindow *desktop = GTK_WINDOW(desktop_.get());
        gtk_window_set_decorated(desktop, FALSE);
        GdkWindow *root = gdk_get_default_root_window();
        gtk_window_move(desktop, 0, 0);
        gtk_window_set_default_size(desktop, gdk_window_get_width(root), gdk_window_get_height(root));
        gtk_widget_set_app_paintable(desktop_.get(), TRUE);
        g_signal_connect(desktop_.get(), "draw", G_CALLBACK(+[](GtkWidget *, cairo_t *cairo, gpointer) {
                             cairo_set_source_rgb(cairo, desktopColour[0] / 255.0, desktopColour[1] / 255.0,
                                                  desktopColour[2] / 255.0);
                             cairo_paint(cairo);
                             return TRUE;
                         }),
                         nullptr);
        gtk_widget_add_events(desktop_.get(), GDK_BUTTON_PRESS_MASK);
        g_signal_connect(desktop_.get(), "button-press-event",
                         G_CALLBACK(+[](GtkWidget *, GdkEventButton *, gpointer presses) {
                             ++*static_cast<int *>(presses);
                             return TRUE;
                         }),
                         &desktopPresses_);
        gtk_widget_show(desktop_.get());
        ASSERT_TRUE(runUntil([&] { return gtk_widget_get_mapped(desktop_.get()) && screenIsDesktop(5, 5); }))
            << "the desktop never showed";
    }

    // Whether the screen shows the desktop at a point of the screen, or of the device window.
    bool screenIsDesktop(int x, int y)
    {
        GdkPixbuf *pixel = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), x, y, 1, 1);
        if (!pixel)
            return false;
        const guchar *rgb = gdk_pixbuf_get_pixels(pixel);
        bool desktop = rgb[0] == desktopColour[0] && rgb[1] == desktopColour[1] && rgb[2] == desktopColour[2];
        g_object_unref(pixel);
        return desktop;
    }
    bool isDesktop(double x, double y)
    {
        auto [screenX, screenY] = onScreen(x, y);
        return screenIsDesktop(screenX, screenY);
    }

    // A point of the body above the screen, where a press moves the window: the body's top edge
    // plus a few pixels (the body is 0.8363428571428572 of the window's height, centred).
    static Point bodyTop(Size size)
    {
        return {size.width / 2, size.height * (1 - 0.8363428571428572) / 2 + 12};
    }

    WebKitDeviceWebView &webView() { return dynamic_cast<WebKitDeviceWebView &>(controller_->webView()); }
    GtkDeviceWindow &window() { return dynamic_cast<GtkDeviceWindow &>(controller_->window()); }

    std::size_t count(const std::string &method) const
    {
        return static_cast<std::size_t>(std::count(methods_.begin(), methods_.end(), method));
    }

    // Runs the main loop until `done` holds or the deadline passes.
    bool runUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout = 10s)
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            g_main_context_iteration(nullptr, FALSE);
            if (!g_main_context_pending(nullptr))
                g_usleep(2000);
        }
        return true;
    }

    void pump(std::chrono::milliseconds time)
    {
        auto until = std::chrono::steady_clock::now() + time;
        runUntil([&] { return std::chrono::steady_clock::now() > until; }, time + 1s);
    }

    // The page's answer to `script`, as JSON text; empty on failure.
    std::string evaluate(const std::string &script)
    {
        struct Result {
            bool done = false;
            std::string json;
        } result;
        webkit_web_view_evaluate_javascript(
            webView().view(), script.c_str(), -1, nullptr, nullptr, nullptr,
            [](GObject *source, GAsyncResult *async, gpointer data) {
                auto *out = static_cast<Result *>(data);
                GError *error = nullptr;
                JSCValue *value =
                    webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), async, &error);
                if (value) {
                    glib::CharPtr json(jsc_value_to_json(value, 0));
                    out->json = json ? json.get() : "";
                    g_object_unref(value);
                }
                if (error)
                    g_error_free(error);
                out->done = true;
            },
            &result);
        EXPECT_TRUE(runUntil([&] { return result.done; })) << script;
        return result.json;
    }

    void settle()
    {
        evaluate("new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(() => r(true))))");
        pump(100ms);
    }

    // Runs a command to its end, the main loop turning meanwhile; fails past 20 s.
    void run(std::vector<std::string> arguments)
    {
        std::vector<char *> argv;
        for (auto &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        GPid pid = 0;
        GError *error = nullptr;
        ASSERT_TRUE(g_spawn_async(nullptr, argv.data(), nullptr,
                                  GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), nullptr,
                                  nullptr, &pid, &error))
            << (error ? error->message : "spawn failed");
        struct Exit {
            bool done = false;
            int status = 0;
        } exit;
        g_child_watch_add(
            pid,
            [](GPid child, gint status, gpointer data) {
                auto *out = static_cast<Exit *>(data);
                out->done = true;
                out->status = status;
                g_spawn_close_pid(child);
            },
            &exit);
        if (!runUntil([&] { return exit.done; }, 20s)) {
            ::kill(pid, SIGKILL);
            runUntil([&] { return exit.done; }, 5s);
            FAIL() << arguments[0] << " did not finish";
        }
        EXPECT_TRUE(g_spawn_check_wait_status(exit.status, nullptr)) << arguments[0] << " failed";
    }

    // A point of the device in X screen coordinates, from a point of the window (y down).
    std::pair<int, int> onScreen(double x, double y)
    {
        int left = 0;
        int top = 0;
        gdk_window_get_origin(gtk_widget_get_window(GTK_WIDGET(window().gtkWindow())), &left, &top);
        return {left + int(x), top + int(y)};
    }

    // The wheel's centre button, in window coordinates of a window of `size`.
    static Point wheelCentre(Size size)
    {
        double bodyHeight = size.height * 0.8363428571428572;
        return {size.width / 2, (size.height - bodyHeight) / 2 + bodyHeight * 0.6964334517627767};
    }

    void screenshot(const std::string &name)
    {
        std::filesystem::path folder = WHEELBOX_WINDOW_SCREENSHOTS;
        std::filesystem::create_directories(folder);
        GdkWindow *root = gdk_get_default_root_window();
        GdkPixbuf *picture =
            gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root), gdk_window_get_height(root));
        ASSERT_NE(picture, nullptr);
        EXPECT_TRUE(gdk_pixbuf_save(picture, (folder / (name + ".png")).c_str(), "png", nullptr, nullptr));
        g_object_unref(picture);
    }

    // The status label's text while it is shown.
    std::optional<std::string> statusText()
    {
        GtkWidget *overlay = gtk_bin_get_child(GTK_BIN(window().gtkWindow()));
        std::optional<std::string> text;
        gtk_container_forall(
            GTK_CONTAINER(overlay),
            [](GtkWidget *child, gpointer data) {
                if (GTK_IS_LABEL(child) && gtk_widget_get_visible(child))
                    *static_cast<std::optional<std::string> *>(data) = gtk_label_get_text(GTK_LABEL(child));
            },
            &text);
        return text;
    }

    // The brightest channel of the screen's pixel at a point of the window (y down).
    int brightness(double x, double y)
    {
        auto [screenX, screenY] = onScreen(x, y);
        GdkPixbuf *pixel = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), screenX, screenY, 1, 1);
        if (!pixel)
            return -1;
        const guchar *rgb = gdk_pixbuf_get_pixels(pixel);
        int value = std::max({int(rgb[0]), int(rgb[1]), int(rgb[2])});
        g_object_unref(pixel);
        return value;
    }

    // Snapshot pictures still laid over the web view.
    int pictures()
    {
        GtkWidget *overlay = gtk_bin_get_child(GTK_BIN(window().gtkWindow()));
        int count = 0;
        gtk_container_forall(
            GTK_CONTAINER(overlay),
            [](GtkWidget *child, gpointer data) {
                if (GTK_IS_IMAGE(child))
                    ++*static_cast<int *>(data);
            },
            &count);
        return count;
    }

    std::filesystem::path storage_;
    gtk::WidgetPtr desktop_;
    int desktopPresses_ = 0;
    bool coveredBeforeContent_ = false;
    std::unique_ptr<GLibMainLoop> loop_;
    InMemoryUserDefaults defaults_;
    std::unique_ptr<GdkScreens> screens_;
    std::unique_ptr<GtkDeviceViews> views_;
    std::unique_ptr<PlayerWindowController> controller_;
    DevelopmentBridge *bridge_ = nullptr;
    std::vector<std::string> methods_;
    std::vector<std::string> log_;
};

TEST_F(DeviceWindowDisplayTest, OpensAtTheFittedSizeWithTheFirmwareFromTheScheme)
{
    Size expected = windowSize(fittedSize(DeviceSize::large, screens_->mainScreen()->visibleFrame));
    EXPECT_EQ(controller_->window().frame().size, expected);
    GdkWindow *gdkWindow = gtk_widget_get_window(GTK_WIDGET(window().gtkWindow()));
    EXPECT_EQ(gdk_window_get_width(gdkWindow), int(expected.width));
    EXPECT_EQ(gdk_window_get_height(gdkWindow), int(expected.height));
    EXPECT_EQ(evaluate("[location.href, innerWidth, innerHeight, typeof window.veltoFirmware]"),
              "[\"velto://app/index.html\"," + std::to_string(int(expected.width)) + "," +
                  std::to_string(int(expected.height)) + ",\"object\"]");
    EXPECT_EQ(bridge_->sessionResets(), 1) << "one provisional start, one fresh session";
    EXPECT_TRUE(log_.empty());
    EXPECT_EQ(statusText(), std::nullopt);
    screenshot("opened");
}

TEST_F(DeviceWindowDisplayTest, AClickOnTheWheelReachesTheFirmware)
{
    auto [x, y] = onScreen(wheelCentre(controller_->window().frame().size).x,
                           wheelCentre(controller_->window().frame().size).y);
    run({"xdotool", "mousemove", "--sync", std::to_string(x), std::to_string(y), "click", "1"});
    // The centre button opens Music, which asks the bridge for its list.
    EXPECT_TRUE(runUntil([this] { return count("getList") == 1; })) << "the click never reached the firmware";
}

TEST_F(DeviceWindowDisplayTest, ADragOnTheBodyMovesTheWindowAndAClickIsOneChassisClick)
{
    evaluate("window.__chassis = 0; { const f = window.veltoChassisClick;"
             " window.veltoChassisClick = () => { window.__chassis++; f?.(); }; } true");
    Rect before = controller_->window().frame();
    auto [x, y] = onScreen(bodyTop(before.size).x, bodyTop(before.size).y); // the body above the screen
    run({"xdotool",
         "mousemove",
         "--sync",
         std::to_string(x),
         std::to_string(y),
         "mousedown",
         "1",
         "sleep",
         "0.1",
         "mousemove",
         std::to_string(x + 10),
         std::to_string(y + 5),
         "sleep",
         "0.1",
         "mousemove",
         std::to_string(x + 60),
         std::to_string(y + 40),
         "sleep",
         "0.2",
         "mouseup",
         "1"});
    ASSERT_TRUE(runUntil([&] { return controller_->window().frame().origin != before.origin; }))
        << "the window did not move";
    pump(200ms);
    Rect moved = controller_->window().frame();
    EXPECT_EQ(moved.origin.x - before.origin.x, 60);
    EXPECT_EQ(moved.origin.y - before.origin.y, -40) << "y grows upwards";
    EXPECT_EQ(evaluate("window.__chassis"), "0") << "a drag is no click";

    // Elsewhere on the body: xdotool's --sync waits for a pointer that actually moves.
    auto [cx, cy] = onScreen(bodyTop(moved.size).x - 30, bodyTop(moved.size).y);
    run({"xdotool", "mousemove", "--sync", std::to_string(cx), std::to_string(cy), "click", "1"});
    ASSERT_TRUE(runUntil([&] { return evaluate("window.__chassis") != "0"; }));
    pump(300ms);
    EXPECT_EQ(evaluate("window.__chassis"), "1");
    EXPECT_EQ(controller_->window().frame(), moved);
    pump(600ms);
    EXPECT_EQ(defaults_.string("NSWindow Frame veltoPlayerWindow"), savedFrame::format(moved));
}

// The web processes this program started.
std::vector<pid_t> webProcesses()
{
    std::vector<pid_t> children;
    for (const auto &process : test::processes()) {
        if (process.parent == ::getpid() && process.state != 'Z' &&
            process.name.starts_with("WebKitWebProces"))
            children.push_back(process.pid);
    }
    return children;
}

TEST_F(DeviceWindowDisplayTest, AKilledWebProcessShowsTheReloadTextAndComesBack)
{
    auto children = webProcesses();
    ASSERT_FALSE(children.empty()) << "no web process of ours found";
    for (pid_t pid : children)
        ::kill(pid, SIGKILL);
    ASSERT_TRUE(runUntil([this] { return statusText().has_value(); }));
    EXPECT_EQ(statusText(), "Reloading Wheelbox\u2026");
    ASSERT_TRUE(runUntil([this] { return count("ready") == 2; }, 60s)) << "the firmware did not come back";
    ASSERT_TRUE(runUntil([this] { return !statusText(); }));
    EXPECT_GE(bridge_->sessionResets(), 3) << "the crash and the reload's start each begin a session";
}

TEST_F(DeviceWindowDisplayTest, AWebProcessKilledOverAndOverComesBackEveryTime)
{
    // WHEELBOX_WEB_PROCESS_KILLS sets how many (100 for the full run; fewer keep the suite short).
    const char *setting = std::getenv("WHEELBOX_WEB_PROCESS_KILLS");
    int kills = setting && *setting ? std::atoi(setting) : 10;
    for (int kill = 1; kill <= kills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        auto children = webProcesses();
        ASSERT_EQ(children.size(), 1u) << "one web process, none left from before";
        int sessions = bridge_->sessionResets();
        ::kill(children[0], SIGKILL);
        ASSERT_TRUE(runUntil([&] { return count("ready") == static_cast<std::size_t>(kill) + 1; }, 60s))
            << "the firmware did not come back";
        ASSERT_TRUE(runUntil([this] { return !statusText(); }));
        // The crash ends the old page's session before the new page can ask anything.
        EXPECT_GE(bridge_->sessionResets(), sessions + 2);
    }
    pump(500ms);
    EXPECT_EQ(webProcesses().size(), 1u);
}

TEST_F(DeviceWindowDisplayTest, OutsideAddressesAreNeverOpened)
{
    int sessions = bridge_->sessionResets();
    GList *toplevels = gtk_window_list_toplevels();
    guint windows = g_list_length(toplevels);
    g_list_free(toplevels);
    evaluate(
        "const a = document.createElement('a'); a.href = 'https://example.com/'; document.body.append(a);"
        " a.click(); window.open('https://example.com/'); location.href = 'file:///etc/passwd';"
        " const f = document.createElement('iframe'); f.src = 'https://example.com/'; "
        "document.body.append(f);"
        " true");
    pump(1500ms);
    EXPECT_EQ(evaluate("location.href"), "\"velto://app/index.html\"");
    EXPECT_EQ(bridge_->sessionResets(), sessions) << "no navigation started";
    EXPECT_TRUE(log_.empty());
    toplevels = gtk_window_list_toplevels();
    EXPECT_EQ(g_list_length(toplevels), windows) << "no other window";
    g_list_free(toplevels);
}

TEST_F(DeviceWindowDisplayTest, ASecondaryClickShowsNoMenu)
{
    GList *toplevels = gtk_window_list_toplevels();
    guint windows = g_list_length(toplevels);
    g_list_free(toplevels);
    Size size = controller_->window().frame().size;
    for (auto [x, y] :
         {std::pair{size.width / 2, 150.0}, {bodyTop(size).x, bodyTop(size).y}}) { // screen, body
        auto [screenX, screenY] = onScreen(x, y);
        run({"xdotool", "mousemove", "--sync", std::to_string(screenX), std::to_string(screenY), "click",
             "3"});
        pump(500ms);
    }
    toplevels = gtk_window_list_toplevels();
    guint shown = 0;
    // A tooltip may come and go under the pointer; a menu would be a window of its own.
    for (GList *each = toplevels; each; each = each->next) {
        if (gtk_widget_get_visible(GTK_WIDGET(each->data)) && GTK_WIDGET(each->data) != desktop_.get() &&
            std::string_view(G_OBJECT_TYPE_NAME(each->data)) != "GtkTooltipWindow")
            ++shown;
    }
    EXPECT_EQ(g_list_length(toplevels), windows);
    EXPECT_EQ(shown, 1u) << "only the device window is on screen, over the desktop";

    g_list_free(toplevels);
}

TEST_F(DeviceWindowDisplayTest, TheStatusTextStaysWithinItsShare)
{
    std::string text = "Wheelbox couldn\u2019t load its interface.\nQuit and reopen the app.";
    for (int i = 0; i < 6; ++i)
        text += " And a long explanation that would run on for many lines if nothing held it back.";
    controller_->window().showStatusText(text);
    GtkWidget *label = nullptr;
    gtk_container_forall(
        GTK_CONTAINER(gtk_bin_get_child(GTK_BIN(window().gtkWindow()))),
        [](GtkWidget *child, gpointer data) {
            if (GTK_IS_LABEL(child))
                *static_cast<GtkWidget **>(data) = child;
        },
        &label);
    ASSERT_NE(label, nullptr);
    ASSERT_TRUE(runUntil([&] { return gtk_widget_get_allocated_width(label) > 1; }));
    pump(200ms);
    Size size = controller_->window().frame().size;
    EXPECT_LE(gtk_widget_get_allocated_width(label), int(size.width * 0.72));
    EXPECT_LE(pango_layout_get_line_count(gtk_label_get_layout(GTK_LABEL(label))), 3);
    int left = 0;
    int top = 0;
    ASSERT_TRUE(gtk_widget_translate_coordinates(label, GTK_WIDGET(window().gtkWindow()), 0, 0, &left, &top));
    EXPECT_NEAR(left + gtk_widget_get_allocated_width(label) / 2.0, size.width / 2, 1) << "centred";
    EXPECT_NEAR(top + gtk_widget_get_allocated_height(label) / 2.0, size.height / 2, 1) << "centred";
    screenshot("status-text");
}

TEST_F(DeviceWindowDisplayTest, EachSizeEndsAtItsSizeAroundTheSameCentreFullyVisible)
{
    Rect start = controller_->window().frame();
    for (DeviceSize size : {DeviceSize::medium, DeviceSize::small, DeviceSize::tiny, DeviceSize::large}) {
        SCOPED_TRACE(std::string(rawValue(size)));
        controller_->applyDeviceSize(size);
        Size expected = windowSize(size);
        GtkWidget *view = webView().widget();
        ASSERT_TRUE(runUntil([&] {
            return !controller_->resizeSequence().hasOverlay() && gtk_widget_get_opacity(view) == 1.0 &&
                   gtk_widget_get_allocated_width(view) == int(expected.width) &&
                   gtk_widget_get_allocated_height(view) == int(expected.height);
        })) << "the resize did not finish";
        // The fade and resizeGo. WebKitGTK may hand the page its new size after the sequence has
        // ended; the firmware then finishes a grow by itself, a moment later.
        EXPECT_TRUE(runUntil(
            [&] {
                return evaluate("getComputedStyle(document.getElementById('stage')).transform") == "\"none\"";
            },
            5s));
        settle();
        EXPECT_TRUE(runUntil([&] { return pictures() == 0; }, 2s)) << "the old picture faded out and went";
        // The corners around the body are the page's transparent margin: the display has no
        // compositor, so the window is shaped to the body and the desktop shows there, not black and
        // nothing of an old picture.
        auto cornersClear = [&] {
            for (auto [x, y] : {std::pair{3.0, 3.0},
                                {expected.width - 4, 3.0},
                                {3.0, expected.height - 4},
                                {expected.width - 4, expected.height - 4}}) {
                if (!isDesktop(x, y))
                    return false;
            }
            return true;
        };
        EXPECT_TRUE(runUntil(cornersClear, 3s)) << "the margin around the body shows the desktop";
        Rect frame = controller_->window().frame();
        EXPECT_EQ(frame.size, expected);
        EXPECT_NEAR(frame.midX(), start.midX(), 0.5);
        EXPECT_NEAR(frame.midY(), start.midY(), 0.5);
        GdkWindow *gdkWindow = gtk_widget_get_window(GTK_WIDGET(window().gtkWindow()));
        EXPECT_EQ(gdk_window_get_width(gdkWindow), int(expected.width));
        EXPECT_EQ(gdk_window_get_height(gdkWindow), int(expected.height));
        EXPECT_EQ(
            evaluate(
                "[innerWidth, innerHeight, getComputedStyle(document.getElementById('stage')).transform]"),
            "[" + std::to_string(int(expected.width)) + "," + std::to_string(int(expected.height)) +
                ",\"none\"]")
            << "the page fills the window with its device at rest";
        EXPECT_EQ(defaults_.string("deviceSize"), std::string(rawValue(size)));

        screenshot(std::string("size-") + std::string(rawValue(size)));
    }
    EXPECT_EQ(controller_->window().frame(), start) << "back where it began";
}

// Without a compositor a transparent pixel is black: the window is then the body's shape, so the
// desktop shows all around the body, where presses reach the desktop, not the device.
TEST_F(DeviceWindowDisplayTest, WithoutACompositorTheDesktopShowsAroundTheBody)
{
    ASSERT_FALSE(gdk_screen_is_composited(gdk_screen_get_default())) << "the test display has no compositor";
    EXPECT_FALSE(coveredBeforeContent_) << "nothing of the window showed before the firmware painted";
    Size size = controller_->window().frame().size;
    double bodyLeft = size.width * (1 - 0.8297872340425532) / 2;
    double bodyTopEdge = size.height * (1 - 0.8363428571428572) / 2;
    // Around the body: the margin, the rounded corners' outside, the shadow's place below it.
    const Point around[] = {{2, 2},
                            {size.width - 3, size.height / 2},
                            {bodyLeft - 3, size.height / 2},
                            {bodyLeft + 3, bodyTopEdge + 3},
                            {size.width - bodyLeft - 4, size.height - bodyTopEdge - 4},
                            {size.width / 2, size.height - bodyTopEdge + 6}};
    for (Point point : around)
        EXPECT_TRUE(isDesktop(point.x, point.y)) << point.x << ", " << point.y;
    // On it: the body's edge, its rounded corner's inside, the wheel, the screen.
    const Point on[] = {{bodyLeft + 2, size.height / 2},
                        {bodyLeft + 16, bodyTopEdge + 16},
                        wheelCentre(size),
                        {size.width / 2, 150}};
    for (Point point : on)
        EXPECT_FALSE(isDesktop(point.x, point.y)) << point.x << ", " << point.y;
    screenshot("no-compositor");

    auto [x, y] = onScreen(3, 3);
    run({"xdotool", "mousemove", "--sync", std::to_string(x), std::to_string(y), "click", "1"});
    EXPECT_TRUE(runUntil([&] { return desktopPresses_ == 1; }))
        << "a press beside the body reaches the desktop";
}

// Texts handed to the page as arguments arrive as exactly those texts, whatever they hold; a text
// no GVariant string can carry arrives repaired, never cut short. A large answer reaches the page's
// resolve function as the id and object it was made from.
TEST_F(DeviceWindowDisplayTest, FunctionArgumentsReachThePageAsTheirTexts)
{
    namespace json = boost::json;
    using namespace std::string_literals;
    const std::string hostile = "q\" b\\ </script> \n\r\t \u2028\u2029 ’… 歌 😀 ${x} `) }";
    PageFunctionCall call{"window.__texts = [plain, broken];", {}};
    call.arguments.push_back({"plain", hostile});
    call.arguments.push_back({"broken", "a\0b\xFF\xC3z"s});
    webView().callFunction(std::move(call));
    ASSERT_TRUE(runUntil([&] { return evaluate("window.__texts !== undefined") == "true"; }));
    EXPECT_EQ(json::parse(evaluate("window.__texts")),
              (json::array{json::string(hostile), "a\uFFFDb\uFFFD\uFFFDz"}));

    evaluate("window.veltoNative.resolve = (id, payload) => { window.__answer = {id, payload}; }, true");
    const std::string id = "id \"\0\u2028\\"s;
    json::array items(2000, json::value{{"title", hostile}});
    auto answer = PageScript::resolveWithResult(id, json::value{{"items", items}});
    ASSERT_TRUE(answer && std::holds_alternative<PageFunctionCall>(*answer));
    PageScript::send(webView(), std::move(*answer));
    ASSERT_TRUE(runUntil([&] { return evaluate("window.__answer !== undefined") == "true"; }));
    EXPECT_EQ(json::parse(evaluate("window.__answer")),
              (json::value{{"id", id}, {"payload", {{"result", {{"items", items}}}}}}));
}

} // namespace
} // namespace wheelbox
