// FIXME: the media worker (both transports, the script runner, the running-applications check and
// the host facts) takes over here once its Linux assembly lands; until then the device browses the
// library, answers "ready" with nothing playing, and every other request fails as unknown.
#include "app/ApplicationBackEnd.hpp"

#include "bridge/BridgeError.hpp"
#include "library/MusicLibraryProvider.hpp"
#include "model/MediaJSON.hpp"
#include "model/NowPlayingState.hpp"
#include "platform/LibrarySource.hpp"

#include <optional>

namespace wheelbox {
namespace {

class LibraryOnlyBackEnd final : public MediaBackend {
  public:
    explicit LibraryOnlyBackEnd(const ApplicationBackEndParts &parts)
        : clock_(parts.clock), makeSource_(parts.makeLibrarySource)
    {}

    Reply handle(const Request &request) override
    {
        if (request.method == "ready") {
            boost::json::object status;
            status["transport"] = "music";
            status["nowPlaying"] = toJSON(NowPlayingState::empty());
            return Reply{boost::json::value(std::move(status)), std::nullopt};
        }
        if (request.method != "getList" && request.method != "refreshLibrary")
            throw BridgeError::unknownMethod(request.method);
        const auto *path = request.params.if_contains("path");
        std::string_view listPath =
            path && path->is_string() ? std::string_view(path->get_string()) : "music";
        if (!provider_) {
            source_ = makeSource_();
            provider_.emplace(*source_, clock_);
        } else if (request.method == "refreshLibrary") {
            provider_->reload();
        }
        return Reply{toJSON(provider_->list(listPath)), std::nullopt};
    }

    std::optional<boost::json::value> pollNowPlaying() override { return std::nullopt; }
    bool musicUsesLogicalQueue() noexcept override { return false; }
    void readMusicNowPlaying() noexcept override {}
    void endScans() noexcept override {}

  private:
    const Clock &clock_;
    std::function<std::unique_ptr<LibrarySource>()> makeSource_;
    std::unique_ptr<LibrarySource> source_;
    std::optional<MusicLibraryProvider> provider_;
};

} // namespace

std::unique_ptr<MediaBackend> makeApplicationBackEnd(const ApplicationBackEndParts &parts)
{
    return std::make_unique<LibraryOnlyBackEnd>(parts);
}

} // namespace wheelbox
