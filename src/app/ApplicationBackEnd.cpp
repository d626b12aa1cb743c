// FIXME: the shared Linux assembly of the back end replaces this one when it lands; until then the
// application puts the media worker together here, from the same parts.
#include "app/ApplicationBackEnd.hpp"

#include "platform/LibrarySource.hpp"
#include "platform/RandomSource.hpp"
#include "platform/linux/LinuxHostFacts.hpp"
#include "platform/linux/LinuxRunningApplications.hpp"
#include "transport/ScriptRunner.hpp"
#include "worker/MediaWorker.hpp"

namespace wheelbox {
namespace {

// The worker with the services it refers to, which must outlive it.
class AssembledBackEnd final : public MediaBackend {
  public:
    explicit AssembledBackEnd(const ApplicationBackEndParts &parts)
        : worker_(MediaWorkerServices{runner_, applications_, parts.defaults, parts.clock,
                                      RandomSource::system(), host_, parts.makeLibrarySource, std::nullopt})
    {}

    Reply handle(const Request &request) override { return worker_.handle(request); }
    std::optional<boost::json::value> pollNowPlaying() override { return worker_.pollNowPlaying(); }
    bool musicUsesLogicalQueue() noexcept override { return worker_.musicUsesLogicalQueue(); }
    void readMusicNowPlaying() noexcept override { worker_.readMusicNowPlaying(); }
    void endScans() noexcept override { worker_.endScans(); }

  private:
    ToolScriptRunner runner_;
    LinuxRunningApplications applications_;
    LinuxHostFacts host_;
    MediaWorker worker_;
};

} // namespace

std::unique_ptr<MediaBackend> makeApplicationBackEnd(const ApplicationBackEndParts &parts)
{
    return std::make_unique<AssembledBackEnd>(parts);
}

} // namespace wheelbox
