#pragma once

#include "app/GtkMainMenu.hpp"
#include "app/MenuActions.hpp"
#include "linux/GLibMainLoop.hpp"
#include "linux/GdkScreens.hpp"
#include "linux/GtkDeviceViews.hpp"
#include "linux/LinuxArtwork.hpp"
#include "linux/LinuxPowerSource.hpp"
#include "linux/LinuxUpdater.hpp"
#include "linux/MpdAlbumLocations.hpp"
#include "linux/MpdLocator.hpp"
#include "linux/MpdServerStatus.hpp"
#include "linux/PrivateMpd.hpp"
#include "linux/SingleInstance.hpp"
#include "platform/HapticPerformer.hpp"
#include "window/PlayerWindowController.hpp"

#include <gtk/gtk.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace wheelbox {

class UserDefaults;

// The application's life on GtkApplication "com.velto.Wheelbox": at launch (the primary copy's
// "startup") it claims the user's single instance, brings up the MPD the program chose or starts
// its own and supervises it, creates the device window controller, the updater and the menu, and
// shows the device; a later start of the program ("activate" over the session bus, else through
// the single instance's socket, from a second copy, which then exits) brings the device to the
// front; at termination ("shutdown") it shuts the device down once, destroys the bridge on this
// thread and stops its own MPD. Closing the device window, "Quit Wheelbox", the firmware's "quit",
// SIGTERM, SIGINT and SIGHUP all end the main loop, which leads there. Main thread only.
class AppDelegate {
  public:
    // `mpd` is the choice made at start, before any thread (MPD_HOST is exported from it).
    AppDelegate(GtkApplication *application, UserDefaults &defaults, MpdLocator::Choice mpd);
    ~AppDelegate();
    AppDelegate(const AppDelegate &) = delete;
    AppDelegate &operator=(const AppDelegate &) = delete;

    void applicationDidFinishLaunching();
    void applicationDidActivate();
    void applicationWillTerminate();

    // The quit every path takes, posted so that no caller is destroyed under itself.
    void requestTermination();

    // The program's exit status when the run itself succeeded: 1 for a later start that could not
    // bring the running copy forward.
    int exitStatus() const noexcept { return exitStatus_; }

  private:
    // False when another copy runs (it was asked to bring its device forward).
    bool claimSingleInstance();
    void startMusicServer();
    void buildMenu();
    void showAbout();
    void presentUpdate(const LinuxUpdater::Outcome &outcome);

    static void onStartup(GApplication *application, gpointer self);
    static void onActivate(GApplication *application, gpointer self);
    static void onShutdown(GApplication *application, gpointer self);
    static gboolean onSignal(gpointer self);

    GtkApplication *application_;
    UserDefaults &defaults_;
    MpdLocator::Choice mpd_;
    GLibMainLoop mainLoop_;
    LinuxPowerSource powerSource_;
    NoHapticPerformer haptics_;
    std::shared_ptr<std::atomic<bool>> quitting_ = std::make_shared<std::atomic<bool>>(false);
    std::vector<guint> signalSources_;
    bool launched_ = false;
    bool terminated_ = false;
    int exitStatus_ = 0;

    std::unique_ptr<SingleInstance> instance_;
    // Whether the program's own MPD is there, and why not.
    std::shared_ptr<MpdServerStatus> mpdStatus_ = std::make_shared<MpdServerStatus>();
    std::unique_ptr<PrivateMpd> privateMpd_;
    // The folder the program's own MPD reads, while it has one; its folder pictures are read from disk.
    std::optional<std::filesystem::path> ownMusicFolder_;
    // Covers outlive the device that shows them: the bridge and the scheme both use them.
    std::shared_ptr<MpdAlbumLocations> albumLocations_ = std::make_shared<MpdAlbumLocations>();
    std::unique_ptr<LinuxArtwork> artwork_;
    std::unique_ptr<GdkScreens> screens_;
    std::unique_ptr<GtkDeviceViews> views_;
    std::unique_ptr<PlayerWindowController> playerWindowController_;
    std::unique_ptr<LinuxUpdater> updaterController_;
    std::unique_ptr<MenuActions> menuActions_;
    std::unique_ptr<GtkMainMenu> menu_;
    GtkWidget *about_ = nullptr;
};

} // namespace wheelbox
