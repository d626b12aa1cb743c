// The back end of the installed wheelbox-bridge.
//
// FIXME: MediaWorker (with both transports, the MPD library source and the file user-defaults
// store) replaces the stand-in below when it lands; until then the console browses the library
// and every other method fails as unknown.
#include "ConsoleBackEnd.hpp"

#include "bridge/BridgeError.hpp"
#include "library/MusicLibraryProvider.hpp"
#include "model/MediaJSON.hpp"
#include "platform/linux/MpdLibrarySource.hpp"

#include <boost/json/value.hpp>

#include <optional>

namespace wheelbox {
namespace {

// The library lists of the MPD every client finds, read on first use.
class LibraryListsBackend final : public MediaBackend {
  public:
    explicit LibraryListsBackend(const Clock &clock) : clock_(clock) {}

    Reply handle(const Request &request) override
    {
        if (request.method != "getList" && request.method != "refreshLibrary")
            throw BridgeError::unknownMethod(request.method);
        const auto *path = request.params.if_contains("path");
        std::string_view listPath =
            path && path->is_string() ? std::string_view(path->get_string()) : "music";
        if (!provider_)
            provider_.emplace(source_, clock_);
        else if (request.method == "refreshLibrary")
            provider_->reload();
        return Reply{toJSON(provider_->list(listPath)), std::nullopt};
    }

    std::optional<boost::json::value> pollNowPlaying() override { return std::nullopt; }
    bool musicUsesLogicalQueue() noexcept override { return false; }
    void readMusicNowPlaying() noexcept override {}
    void endScans() noexcept override {}

  private:
    const Clock &clock_;
    MpdLibrarySource source_;
    std::optional<MusicLibraryProvider> provider_;
};

} // namespace

ConsoleBackEnd makeConsoleBackEnd(const Clock &clock)
{
    return {std::make_unique<InMemoryUserDefaults>(), std::make_unique<LibraryListsBackend>(clock)};
}

} // namespace wheelbox
