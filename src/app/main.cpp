// Wheelbox: a click-wheel music player on the desktop. The program reads no command line.

#include "app/AppDelegate.hpp"
#include "lib/glib/BusConnection.hpp"
#include "lib/posix/BrokenPipe.hpp"
#include "lib/posix/HeapMemory.hpp"
#include "linux/FileUserDefaults.hpp"
#include "linux/MpdLocator.hpp"
#include "linux/PrivateMpdConfiguration.hpp"
#include "platform/AutomationTool.hpp"

#include <gtk/gtk.h>

#include <cstdlib>
#include <exception>
#include <iostream>
#include <unistd.h>

using namespace wheelbox;

int main()
{
    posix::ignoreBrokenPipes();
    // A list of 100,000 songs is built and written as text on a worker thread now and then; its
    // blocks must go back to the system afterwards rather than stay in that thread's arena.
    posix::keepLargeBlocksOutOfTheHeap();
    try {
        FileUserDefaults defaults;
        // The program's one registered default: no full-screen item in its menus. GTK adds none of
        // its own, so nothing reads it here; it stays registered so that the defaults the program
        // declares are the same on every platform.
        defaults.registerDefaults({{"NSFullScreenMenuItemEverywhere", false}});

        // Placement, frame restore and centre-keeping need X11 (XWayland on a Wayland desktop).
        gdk_set_allowed_backends("x11");
        // WebKit's sandbox cannot be set up by root in a container, and the device would stay
        // blank. The page is the program's own files only (every other navigation is refused), so
        // root runs it without the sandbox rather than not at all; anyone else keeps it.
        if (::geteuid() == 0) {
            ::setenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1", 1);
            std::cerr << "wheelbox: running as root, so the web content runs without WebKit\u2019s sandbox\n";
        }
        // Single instance needs a session bus; without one, GLib would start a bus of its own that
        // outlives the program. Run alone instead.
        GApplicationFlags flags = G_APPLICATION_DEFAULT_FLAGS;
        if (!glib::sessionBusAddress()) {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
            flags = G_APPLICATION_NON_UNIQUE;
        }
        captureAutomationToolEnvironment();
        // Without an MPD of the user's, the program starts its own on this socket.
        MpdLocator::Choice mpd = MpdLocator::chooseForProgram(
            {PrivateMpdConfiguration::forUser().socket().string(), 0, std::nullopt});

        glib::ObjectPtr<GtkApplication> application(gtk_application_new("com.velto.Wheelbox", flags));
        g_set_application_name("Wheelbox");
        g_set_prgname("com.velto.Wheelbox");
        int status = 0;
        {
            AppDelegate delegate(application.get(), defaults, mpd);
            status = g_application_run(G_APPLICATION(application.get()), 0, nullptr);
            if (status == 0)
                status = delegate.exitStatus();
        }
        return status;
    } catch (const std::exception &error) {
        std::cerr << "wheelbox: " << error.what() << "\n";
        return 1;
    }
}
