#include "linux/LinuxMediaBackend.hpp"

#include "linux/LinuxHostFacts.hpp"
#include "linux/LinuxRunningApplications.hpp"
#include "linux/MpdLibrarySource.hpp"
#include "platform/AutomationTool.hpp"
#include "platform/Clock.hpp"
#include "platform/RandomSource.hpp"
#include "transport/ScriptRunner.hpp"

#include <utility>

namespace wheelbox {
namespace {

constexpr std::string_view spotifyBusNameVariable = "WHEELBOX_SPOTIFY_BUS_NAME";

// The running check must ask about the player the script tool drives, so it reads the tool's
// environment, not the program's.
std::optional<std::string> toolSpotifyBusName()
{
    const auto environment = automationToolEnvironment();
    for (const auto &entry : *environment) {
        if (entry.size() > spotifyBusNameVariable.size() + 1 && entry.starts_with(spotifyBusNameVariable) &&
            entry[spotifyBusNameVariable.size()] == '=')
            return entry.substr(spotifyBusNameVariable.size() + 1);
    }
    return std::nullopt;
}

LinuxRunningApplicationsSettings runningCheckSettings(const LinuxMediaBackendSettings &settings)
{
    LinuxRunningApplicationsSettings check;
    check.mpdAddress = settings.mpdAddress;
    check.busAddress = settings.busAddress;
    if (auto name = settings.spotifyBusName ? settings.spotifyBusName : toolSpotifyBusName())
        check.spotifyBusName = std::move(*name);
    return check;
}

LibrarySourceFactory librarySourceFactory(const LinuxMediaBackendSettings &settings)
{
    if (settings.makeLibrarySource)
        return settings.makeLibrarySource;
    return [address = settings.mpdAddress]() -> std::unique_ptr<LibrarySource> {
        if (address)
            return std::make_unique<MpdLibrarySource>(*address);
        return std::make_unique<MpdLibrarySource>();
    };
}

// The worker and everything it refers to, in the order they must be made (and, reversed, ended).
class LinuxMediaBackend final : public MediaBackend {
  public:
    explicit LinuxMediaBackend(const LinuxMediaBackendSettings &settings)
        : applications_(runningCheckSettings(settings)),
          worker_(MediaWorkerServices{.runner = runner_,
                                      .applications = applications_,
                                      .defaults = settings.defaults,
                                      .clock = Clock::system(),
                                      .random = RandomSource::system(),
                                      .host = host_,
                                      .makeLibrarySource = librarySourceFactory(settings),
                                      .collationLocale = std::nullopt,
                                      .artwork = settings.artwork})
    {}

    Reply handle(const Request &request) override { return worker_.handle(request); }
    std::optional<boost::json::value> pollNowPlaying(PollTicket poll) override
    {
        return worker_.pollNowPlaying(poll);
    }
    bool musicUsesLogicalQueue() noexcept override { return worker_.musicUsesLogicalQueue(); }
    void readMusicNowPlaying(PollTicket poll) noexcept override { worker_.readMusicNowPlaying(poll); }
    void endScans() noexcept override { worker_.endScans(); }
    PollTicket issuePollTicket() noexcept override { return worker_.issuePollTicket(); }
    void cancelPolls() noexcept override { worker_.cancelPolls(); }
    void cancelRequests() noexcept override { worker_.cancelRequests(); }
    void cancelAllScripts() noexcept override { worker_.cancelAllScripts(); }
    std::optional<boost::json::value> artworkChange() noexcept override { return worker_.artworkChange(); }
    void setArtworkArrivalHandler(std::function<void()> handler) override
    {
        worker_.setArtworkArrivalHandler(std::move(handler));
    }

  private:
    ToolScriptRunner runner_;
    LinuxRunningApplications applications_;
    LinuxHostFacts host_;
    MediaWorker worker_;
};

} // namespace

std::unique_ptr<MediaBackend> makeLinuxMediaBackend(LinuxMediaBackendSettings settings)
{
    return std::make_unique<LinuxMediaBackend>(settings);
}

} // namespace wheelbox
