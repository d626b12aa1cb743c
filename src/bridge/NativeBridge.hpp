#pragma once

#include "bridge/BridgeHost.hpp"
#include "bridge/CancellationToken.hpp"
#include "bridge/PageScript.hpp"
#include "platform/MainLoop.hpp"
#include "platform/SerialQueue.hpp"
#include "worker/MediaBackend.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wheelbox {

class Clock;
class HapticPerformer;
class PowerSource;
class UserDefaults;
struct BridgeMessage;

// What the bridge uses of the program around it. Every reference must outlive the bridge.
struct BridgeServices {
    MainLoop &mainLoop;
    const Clock &clock;
    UserDefaults &defaults;
    HapticPerformer &haptics;
    const PowerSource &powerSource;
    // Asks the application to terminate ("quit"); called on the main thread after the answer was
    // sent. It must not destroy the bridge before it returns.
    std::function<void()> requestTermination;
};

// The native end of the firmware's message bridge. It checks each message, answers the local
// methods and "haptic" itself, runs every other request on the media queue through the back end
// with a per-method time limit, answers each with one line of JavaScript (or, when large, one
// call of a page function with the answer as its argument), keeps requests of a page
// that is gone or of a playback start that was overtaken from running or being answered, and
// pushes now-playing and battery updates on timers while the firmware is awake.
//
// Main thread only, except the back end, which runs only on the media queue
// ("com.velto.media-worker", a thread of the bridge's own). Destroying the bridge cancels what is
// queued, waits for the media queue to finish, and then destroys the back end; answers still on
// their way to the main thread are dropped.
class NativeBridge final : public DeviceBridge {
  public:
    static constexpr std::string_view mediaQueueLabel = "com.velto.media-worker";
    static constexpr std::chrono::seconds nowPlayingInterval{1};
    static constexpr std::chrono::seconds batteryInterval{60};
    static constexpr std::chrono::milliseconds hapticInterval{20};
    // How long the waiting session reset waits for the media queue to reach its clean-up. Every
    // script is cancelled first, so the running request ends quickly; the deadline only keeps a
    // back end stuck elsewhere from holding up the application's exit.
    static constexpr std::chrono::seconds sessionResetDeadline{10};

    // `backend` must throw only std::exception-derived errors; their what() becomes the answer's
    // "error" text.
    NativeBridge(std::unique_ptr<MediaBackend> backend, BridgeServices services);
    ~NativeBridge() override;
    NativeBridge(const NativeBridge &) = delete;
    NativeBridge &operator=(const NativeBridge &) = delete;

    void attach(BridgeWebView *webView, BridgeWindow *window) override;
    void receiveMessage(std::string_view bodyJSON, const MessageOrigin &origin) override;
    void resetWebSession(SessionResetWait wait) override;

    // Runs `done` on the main thread as soon as no request is queued, running or waiting to be
    // delivered (posted at once when there is none). An answer dropped because its page is gone
    // counts as delivered.
    void notifyWhenIdle(std::function<void()> done);
    std::size_t requestsInFlight() const noexcept { return requestsInFlight_; }

    bool isFirmwareAwake() const noexcept { return firmwareAwake_; }
    bool isPollQueuedOrRunning() const noexcept { return pollQueuedOrRunning_; }

  private:
    // Shared with every task the bridge posts to the main loop; cleared when the bridge goes.
    struct Life;
    struct QueuedRequest;
    struct RequestOutcome;
    // A light poll keeps the music transport's queue moving, a full one reads and pushes, an
    // artwork poll pushes the last reading with the cover that arrived for it.
    enum class PollDepth { light, full, artwork };

    void tapHaptic();
    void answerLocally(const BridgeMessage &message);
    void queueRequest(BridgeMessage message);
    // The work item of one request, on the media queue: three checks before it runs, two after.
    static RequestOutcome runRequest(const QueuedRequest &queued, MediaBackend &backend, const Clock &clock);
    void deliver(const QueuedRequest &request, RequestOutcome outcome);
    void answer(std::string_view id, const boost::json::value &result);
    void evaluate(const std::string &script);
    void send(PageScript::PageCall call);

    void startTimers();
    void schedulePoll();
    // A cover arrived: the reading with it is pushed without asking the player again.
    void artworkArrived();
    void scheduleArtworkPoll();
    void completePoll(std::int64_t generation, PollDepth depth,
                      const std::optional<std::string> &nowPlayingLine);
    void pushBattery();
    void goToSleep();

    BridgeWebView *webView_ = nullptr;
    BridgeWindow *window_ = nullptr;
    std::unique_ptr<MediaBackend> backend_;
    // Declared after the back end: it is joined before the back end is destroyed.
    SerialQueue mediaQueue_;
    std::unique_ptr<MainLoop::Timer> nowPlayingTimer_;
    std::unique_ptr<MainLoop::Timer> batteryTimer_;
    bool pollQueuedOrRunning_ = false;
    // A cover arrived while a poll was queued or running; it is asked for once that poll ends.
    bool artworkPending_ = false;
    std::int64_t pollRequestGeneration_ = 0;
    std::int64_t webSessionGeneration_ = 0;
    std::shared_ptr<WebSessionToken> webSessionToken_ = std::make_shared<WebSessionToken>();
    std::shared_ptr<PlaybackStartToken> pendingPlaybackStart_;
    bool firmwareAwake_ = true;
    std::chrono::nanoseconds lastHapticTime_;

    BridgeServices services_;
    std::size_t requestsInFlight_ = 0;
    std::vector<std::function<void()>> idleWaiters_;
    std::shared_ptr<Life> life_;
};

} // namespace wheelbox
