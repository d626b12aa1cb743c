#include "app/AppDelegate.hpp"

#include "bridge/NativeBridge.hpp"
#include "linux/ApplicationBackEnd.hpp"
#include "linux/GtkDeviceWindow.hpp"
#include "linux/UserFolders.hpp"
#include "platform/Clock.hpp"
#include "window/DeviceWindowError.hpp"

#include <glib-unix.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#ifndef WHEELBOX_VERSION
#define WHEELBOX_VERSION ""
#endif

namespace wheelbox {
namespace {

void logLine(const std::string &line)
{
    g_log("velto", G_LOG_LEVEL_WARNING, "%s", line.c_str());
}

} // namespace

AppDelegate::AppDelegate(GtkApplication *application, UserDefaults &defaults, MpdLocator::Choice mpd)
    : application_(application), defaults_(defaults), mpd_(std::move(mpd))
{
    g_signal_connect(application_, "startup", G_CALLBACK(&AppDelegate::onStartup), this);
    g_signal_connect(application_, "activate", G_CALLBACK(&AppDelegate::onActivate), this);
    g_signal_connect(application_, "shutdown", G_CALLBACK(&AppDelegate::onShutdown), this);
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        signalSources_.push_back(g_unix_signal_add(number, &AppDelegate::onSignal, this));
}

AppDelegate::~AppDelegate()
{
    for (guint source : signalSources_)
        g_source_remove(source);
    g_signal_handlers_disconnect_by_data(application_, this);
    applicationWillTerminate();
}

void AppDelegate::onStartup(GApplication *, gpointer self)
{
    static_cast<AppDelegate *>(self)->applicationDidFinishLaunching();
}

void AppDelegate::onActivate(GApplication *, gpointer self)
{
    static_cast<AppDelegate *>(self)->applicationDidActivate();
}

void AppDelegate::onShutdown(GApplication *, gpointer self)
{
    static_cast<AppDelegate *>(self)->applicationWillTerminate();
}

gboolean AppDelegate::onSignal(gpointer self)
{
    static_cast<AppDelegate *>(self)->requestTermination();
    return G_SOURCE_CONTINUE;
}

void AppDelegate::applicationDidFinishLaunching()
{
    // Only the primary copy on a session bus gets here: GApplication hands a second start to this
    // one's "activate". Without a bus, each copy does, and the single instance decides.
    if (launched_ || !claimSingleInstance())
        return;
    launched_ = true;
    // The application runs as long as its device does, window or not.
    g_application_hold(G_APPLICATION(application_));
    startMusicServer();

    screens_ = std::make_unique<GdkScreens>(gdk_display_get_default());
    views_ = std::make_unique<GtkDeviceViews>(*screens_, GtkDeviceViews::userStorage());
    mpd::MpdAddress address = privateMpd_ ? privateMpd_->address() : mpd_.address;
    artwork_ =
        std::make_unique<LinuxArtwork>(LinuxArtworkSettings{.cacheFolder = LinuxArtwork::userCacheFolder(),
                                                            .mpdAddress = address,
                                                            .musicFolder = ownMusicFolder_,
                                                            .albums = albumLocations_});
    auto makeBridge = [this, address]() -> std::unique_ptr<DeviceBridge> {
        return std::make_unique<NativeBridge>(
            makeApplicationBackEnd({.defaults = defaults_,
                                    .mpdAddress = address,
                                    .mpdStatus = mpdStatus_,
                                    .quitting = quitting_,
                                    .ownMusicFolder = ownMusicFolder_,
                                    .artwork = artwork_.get(),
                                    .albumLocations = albumLocations_}),
            BridgeServices{mainLoop_, Clock::system(), defaults_, haptics_, powerSource_, [this] {
                               requestTermination();
                           }});
    };
    try {
        playerWindowController_ =
            std::make_unique<PlayerWindowController>(PlayerWindowController::Environment{
                mainLoop_, defaults_, *screens_, *views_, makeBridge,
                WebResourceSchemeHandler::firmwareRoot(), logLine, artwork_.get()});
    } catch (const DeviceWindowError &error) {
        // A broken installation: nothing to show.
        std::cerr << "wheelbox: " << error.what() << "\n";
        std::exit(1);
    }
    playerWindowController_->setWindowClosedHandler([this] { requestTermination(); });
    playerWindowController_->setBodyMenuHandler([this] {
        if (menu_)
            menu_->popUp();
    });
    // Accelerators reach a window of the application only.
    if (auto *window = dynamic_cast<GtkDeviceWindow *>(&playerWindowController_->window()))
        gtk_window_set_application(window->gtkWindow(), application_);

    std::filesystem::path share = WebResourceSchemeHandler::firmwareRoot().value_or("").parent_path();
    updaterController_ = std::make_unique<LinuxUpdater>(
        LinuxUpdater::installedConfiguration(share, WHEELBOX_VERSION),
        [this](const LinuxUpdater::Outcome &outcome) { presentUpdate(outcome); });
    buildMenu();
    playerWindowController_->showWindow();
    playerWindowController_->window().makeKeyAndOrderFront();
}

void AppDelegate::applicationDidActivate()
{
    // Every start after the first, from this copy or another: bring the device to the front.
    if (playerWindowController_ && !playerWindowController_->isShuttingDown())
        playerWindowController_->window().makeKeyAndOrderFront();
}

bool AppDelegate::claimSingleInstance()
{
    auto state = userFolders::state();
    auto runtime = userFolders::runtime();
    try {
        instance_ = SingleInstance::claim(state, runtime);
    } catch (const std::exception &error) {
        // Nowhere to keep the claim: this copy runs, as it would have before there was one.
        std::cerr << "wheelbox: " << error.what() << "; a later start may open a second device\n";
        return true;
    }
    if (instance_) {
        instance_->listen(mainLoop_, [this] { applicationDidActivate(); });
        return true;
    }
    std::string problem;
    if (!SingleInstance::presentRunningCopy(state, runtime, SingleInstance::answerTimeout, problem)) {
        std::cerr << "wheelbox: " << problem << "\n";
        exitStatus_ = 1;
    }
    return false;
}

void AppDelegate::startMusicServer()
{
    if (mpd_.source != MpdLocator::Choice::Source::none)
        return;
    const char *path = std::getenv("PATH");
    auto executable = PrivateMpd::findExecutable(path ? path : "");
    try {
        if (!executable)
            throw PrivateMpdError::notInstalled();
        auto configuration = PrivateMpdConfiguration::forUser();
        privateMpd_ = PrivateMpd::start(configuration, *executable);
        privateMpd_->supervise(mainLoop_, mpdStatus_);
        ownMusicFolder_ = configuration.musicDirectory;
    } catch (const PrivateMpdError &error) {
        mpdStatus_->setUnavailable(error.what(), false);
        std::cerr << "wheelbox: " << error.what() << "\n";
    }
}

void AppDelegate::buildMenu()
{
    menuActions_ = std::make_unique<MenuActions>(playerWindowController_.get(), updaterController_.get());
    menu_ = std::make_unique<GtkMainMenu>(application_, *menuActions_,
                                          GtkMainMenu::Handlers{[this] { showAbout(); },
                                                                [this] {
                                                                    requestTermination();
                                                                }});
}

void AppDelegate::showAbout()
{
    if (!about_) {
        about_ = gtk_about_dialog_new();
        GtkAboutDialog *dialog = GTK_ABOUT_DIALOG(about_);
        gtk_about_dialog_set_program_name(dialog, "Wheelbox");
        gtk_about_dialog_set_version(dialog, WHEELBOX_VERSION);
        gtk_about_dialog_set_comments(
            dialog, "A click-wheel music player on your desktop, playing your music through MPD.");
        gtk_about_dialog_set_logo_icon_name(dialog, "com.velto.Wheelbox");
        gtk_window_set_position(GTK_WINDOW(about_), GTK_WIN_POS_CENTER);
        g_signal_connect(about_, "response", G_CALLBACK(gtk_widget_hide), nullptr);
        g_signal_connect(about_, "delete-event", G_CALLBACK(gtk_widget_hide_on_delete), nullptr);
        gtk_window_set_application(GTK_WINDOW(about_), application_);
    }
    gtk_window_present(GTK_WINDOW(about_));
}

void AppDelegate::presentUpdate(const LinuxUpdater::Outcome &outcome)
{
    GtkMessageType type =
        outcome.kind == LinuxUpdater::Outcome::Kind::failed ? GTK_MESSAGE_WARNING : GTK_MESSAGE_INFO;
    GtkWidget *dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_DESTROY_WITH_PARENT, type, GTK_BUTTONS_OK,
                                               "%s", outcome.title().c_str());
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", outcome.detail().c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), "Software Update");
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_application(GTK_WINDOW(dialog), application_);
    g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_window_present(GTK_WINDOW(dialog));
}

void AppDelegate::requestTermination()
{
    // Posted: the caller (the bridge answering "quit", a menu item, the window) returns first.
    quitting_->store(true);
    mainLoop_.post([application = application_] { g_application_quit(G_APPLICATION(application)); });
}

void AppDelegate::applicationWillTerminate()
{
    if (terminated_)
        return;
    terminated_ = true;
    quitting_->store(true);
    if (playerWindowController_ && !playerWindowController_->isShuttingDown())
        playerWindowController_->shutdown();
    menu_.reset();
    menuActions_.reset();
    if (about_)
        gtk_widget_destroy(about_);
    about_ = nullptr;
    updaterController_.reset();
    // The bridge goes here, on the main thread, while the main loop still exists; its media queue
    // ends before the back end, and the back end before the MPD it talks to.
    playerWindowController_.reset();
    views_.reset();
    screens_.reset();
    // After the bridge and the scheme that ask it, before the MPD it reads from.
    artwork_.reset();
    privateMpd_.reset();
    if (launched_)
        g_application_release(G_APPLICATION(application_));
    launched_ = false;
}

} // namespace wheelbox
