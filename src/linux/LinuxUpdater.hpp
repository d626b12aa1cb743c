#pragma once

#include "platform/Updater.hpp"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace wheelbox {

// Updates on Linux come through the system's package manager. When the installed configuration
// names an appcast (the "AppcastURL" of its [Updates] group), a check reads it, within a time
// limit, and reports the newest version found there. Main thread only; the check runs on the main
// loop and reports there.
class LinuxUpdater final : public Updater {
  public:
    struct Configuration {
        std::string currentVersion;
        // file:, http: or https:
        std::optional<std::string> appcastURL;
    };

    // What a check found, and its words for the user.
    struct Outcome {
        enum class Kind { packageManager, upToDate, newerAvailable, failed };
        Kind kind = Kind::packageManager;
        std::string currentVersion;
        std::string newestVersion;
        std::optional<std::string> link;
        // Why the check failed.
        std::string reason;

        std::string title() const;
        std::string detail() const;
    };

    using Presenter = std::function<void(const Outcome &)>;

    static constexpr std::chrono::seconds fetchTimeout{15};
    // An appcast is a few kilobytes; anything past this is not one.
    static constexpr std::size_t largestAppcast = 1 << 20;
    static constexpr const char *configurationFileName = "updates.conf";

    // <prefix>/share/wheelbox/updates.conf beside the firmware; the build tree's own for a program
    // run where it was built. `currentVersion` is the program's.
    static Configuration installedConfiguration(const std::filesystem::path &shareFolder,
                                                std::string currentVersion);

    LinuxUpdater(Configuration configuration, Presenter presenter,
                 std::chrono::milliseconds timeout = fetchTimeout);
    ~LinuxUpdater() override;
    LinuxUpdater(const LinuxUpdater &) = delete;
    LinuxUpdater &operator=(const LinuxUpdater &) = delete;

    // Checks and presents the outcome. A check asked for while one runs is the same check.
    void checkForUpdates() override;

    // Checks and hands the outcome to `done` on the main loop; `done` is not called once the
    // updater is gone.
    void check(std::function<void(const Outcome &)> done);

  private:
    struct Fetch;

    Configuration configuration_;
    Presenter presenter_;
    std::chrono::milliseconds timeout_;
    std::shared_ptr<Fetch> running_;
};

} // namespace wheelbox
