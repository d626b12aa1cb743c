#include "bridge/NativeBridge.hpp"

#include "bridge/BridgeError.hpp"
#include "bridge/BridgeMessage.hpp"
#include "bridge/PageScript.hpp"
#include "bridge/RequestPolicy.hpp"
#include "lib/posix/HeapMemory.hpp"
#include "platform/Clock.hpp"
#include "platform/HapticPerformer.hpp"
#include "platform/PowerSource.hpp"
#include "platform/UserDefaults.hpp"

#include <boost/json/object.hpp>

#include <exception>
#include <future>
#include <utility>

namespace wheelbox {
namespace json = boost::json;

struct NativeBridge::Life {
    // Read and cleared on the main thread only, where every posted task runs.
    NativeBridge *bridge = nullptr;
};

// A request on its way through the media queue, with what was captured when it was queued.
struct NativeBridge::QueuedRequest {
    Request request;
    std::string id;
    std::shared_ptr<WebSessionToken> session;
    std::int64_t sessionGeneration = 0;
    std::shared_ptr<PlaybackStartToken> playbackStart;
    std::chrono::nanoseconds deadline{};
};

// What the media queue hands to the main thread: the answer already written (a large list is
// serialised on the queue, never on the main thread), and the now-playing line to push first.
// "getSettings" leaves its result unwritten, because its answer gains the window's level, which
// only the main thread may read.
struct NativeBridge::RequestOutcome {
    std::optional<std::string> nowPlayingLine;
    std::optional<json::object> settings;
    PageScript::PageCall answer;
};

namespace {

constexpr std::string_view readyMethod = "ready";
constexpr std::string_view getSettingsMethod = "getSettings";

bool booleanParameter(const json::object &params, std::string_view key, bool fallback)
{
    const auto *value = params.if_contains(key);
    return value && value->is_bool() ? value->get_bool() : fallback;
}

// The answer to `id`: its result, or the unencodable-answer error when JSON cannot hold it.
PageScript::PageCall answerWithResult(std::string_view id, std::string_view method,
                                      const std::optional<json::value> &result)
{
    auto call = PageScript::resolveWithResult(id, result);
    return call ? std::move(*call)
                : PageScript::resolveWithError(id, BridgeError::unencodableAnswer(method).what());
}

std::size_t textSize(const PageScript::PageCall &call)
{
    if (const auto *line = std::get_if<std::string>(&call))
        return line->size();
    std::size_t size = 0;
    for (const auto &argument : std::get<PageFunctionCall>(call).arguments)
        size += argument.text.size();
    return size;
}

} // namespace

NativeBridge::NativeBridge(std::unique_ptr<MediaBackend> backend, BridgeServices services)
    : backend_(std::move(backend)), mediaQueue_(std::string(mediaQueueLabel)),
      lastHapticTime_(services.clock.uptime()), services_(std::move(services)),
      life_(std::make_shared<Life>(Life{this}))
{
    backend_->setArtworkArrivalHandler([life = life_, &mainLoop = services_.mainLoop] {
        mainLoop.post([life] {
            if (life->bridge)
                life->bridge->artworkArrived();
        });
    });
}

NativeBridge::~NativeBridge()
{
    backend_->setArtworkArrivalHandler({});
    life_->bridge = nullptr;
    nowPlayingTimer_.reset();
    batteryTimer_.reset();
    // Queued work fails at its first check and running scripts end, so the queue drains quickly
    // when it is joined (mediaQueue_'s destructor, before the back end goes).
    webSessionToken_->cancel();
    if (pendingPlaybackStart_)
        pendingPlaybackStart_->cancel();
    backend_->cancelAllScripts();
}

void NativeBridge::attach(BridgeWebView *webView, BridgeWindow *window)
{
    webView_ = webView;
    window_ = window;
}

void NativeBridge::receiveMessage(std::string_view bodyJSON, const MessageOrigin &origin)
{
    auto message = checkBridgeMessage(bodyJSON, origin);
    if (!message)
        return;
    if (message->method == hapticMethod) {
        tapHaptic();
        return;
    }
    if (isLocalMethod(message->method)) {
        answerLocally(*message);
        return;
    }
    if (message->method == readyMethod) {
        firmwareAwake_ = true;
        startTimers();
    }
    queueRequest(std::move(*message));
}

void NativeBridge::tapHaptic()
{
    if (!firmwareAwake_)
        return;
    auto now = services_.clock.uptime();
    if (now - lastHapticTime_ < hapticInterval)
        return;
    lastHapticTime_ = now;
    services_.haptics.performAlignmentTap();
}

void NativeBridge::answerLocally(const BridgeMessage &message)
{
    if (message.method == "setAlwaysOnTop") {
        bool enabled = booleanParameter(message.params, "enabled", false);
        if (window_)
            window_->setLevel(enabled ? floatingWindowLevel : normalWindowLevel);
        services_.defaults.setBool("alwaysOnTop", enabled);
        answer(message.id, json::value{{"alwaysOnTop", enabled}});
    } else if (message.method == "setFirmwareAwake") {
        firmwareAwake_ = booleanParameter(message.params, "awake", true);
        if (firmwareAwake_) {
            schedulePoll();
            pushBattery();
        } else {
            goToSleep();
        }
        answer(message.id, json::value{{"awake", firmwareAwake_}});
    } else if (message.method == "quit") {
        send(*PageScript::resolveWithResult(message.id, std::nullopt));
        if (services_.requestTermination)
            services_.requestTermination();
    }
}

void NativeBridge::queueRequest(BridgeMessage message)
{
    // A running poll is abandoned so the request does not wait behind its scripts; its result is
    // stale by the new generation.
    ++pollRequestGeneration_;
    pollQueuedOrRunning_ = false;
    backend_->cancelPolls();

    std::shared_ptr<PlaybackStartToken> playbackStart;
    auto role = playbackRole(message.method);
    if (role != PlaybackRole::none) {
        if (pendingPlaybackStart_) {
            pendingPlaybackStart_->cancel();
            backend_->cancelRequests();
            pendingPlaybackStart_.reset();
        }
        if (role == PlaybackRole::starting) {
            playbackStart = std::make_shared<PlaybackStartToken>();
            pendingPlaybackStart_ = playbackStart;
        }
    }

    auto deadline = services_.clock.uptime() + requestTimeLimit(message.method);
    QueuedRequest queued{Request{std::move(message.method), std::move(message.params)},
                         std::move(message.id),
                         webSessionToken_,
                         webSessionGeneration_,
                         std::move(playbackStart),
                         deadline};
    ++requestsInFlight_;
    mediaQueue_.submit([queued = std::move(queued), &backend = *backend_, &clock = services_.clock,
                        &mainLoop = services_.mainLoop, life = life_]() mutable {
        auto outcome = runRequest(queued, backend, clock);
        const bool large = textSize(outcome.answer) >= posix::largeBlockSize;
        mainLoop.post([life, queued = std::move(queued), outcome = std::move(outcome)]() mutable {
            if (life->bridge)
                life->bridge->deliver(queued, std::move(outcome));
        });
        // The rows and values a long answer was built from are freed by now, but their pages stay
        // with this thread's arena; done here, off the main thread.
        if (large)
            posix::releaseFreeHeapPages();
    });
}

// The work item of one request, on the media queue: three checks before it runs, two after.
NativeBridge::RequestOutcome NativeBridge::runRequest(const QueuedRequest &queued, MediaBackend &backend,
                                                      const Clock &clock)
{
    const std::string &method = queued.request.method;
    auto superseded = [&] {
        return queued.playbackStart && queued.playbackStart->isCancelled();
    };
    RequestOutcome outcome;
    auto fail = [&](const std::string &text) {
        outcome.answer = PageScript::resolveWithError(queued.id, text);
        return std::move(outcome);
    };
    if (queued.session->isCancelled())
        return fail(BridgeError::cancelledRequest(method).what());
    // A request that waited too long is not run at all; one that has started is never interrupted.
    if (clock.uptime() > queued.deadline)
        return fail(BridgeError::expiredRequest(method).what());
    if (superseded())
        return fail(BridgeError::supersededRequest(method).what());

    Reply reply;
    try {
        reply = backend.handle(queued.request);
    } catch (const std::exception &error) {
        return fail(error.what());
    }

    if (queued.session->isCancelled())
        return fail(BridgeError::cancelledRequest(method).what());
    if (superseded())
        return fail(BridgeError::supersededRequest(method).what());
    if (reply.nowPlaying)
        outcome.nowPlayingLine = PageScript::nowPlaying(*reply.nowPlaying);
    if (method == getSettingsMethod && reply.result && reply.result->is_object())
        outcome.settings = std::move(reply.result->get_object());
    else
        outcome.answer = answerWithResult(queued.id, method, reply.result);
    return outcome;
}

void NativeBridge::deliver(const QueuedRequest &request, RequestOutcome outcome)
{
    // The page that asked is gone: its answer has nobody to settle.
    if (request.sessionGeneration == webSessionGeneration_) {
        if (request.playbackStart && pendingPlaybackStart_ == request.playbackStart)
            pendingPlaybackStart_.reset();
        if (outcome.nowPlayingLine)
            evaluate(*outcome.nowPlayingLine);
        if (outcome.settings) {
            (*outcome.settings)["alwaysOnTop"] = window_ && window_->level() == floatingWindowLevel;
            outcome.answer = answerWithResult(request.id, request.request.method,
                                              json::value(std::move(*outcome.settings)));
        }
        send(std::move(outcome.answer));
    }

    if (--requestsInFlight_ == 0) {
        auto waiters = std::exchange(idleWaiters_, {});
        for (auto &waiter : waiters)
            waiter();
    }
}

void NativeBridge::answer(std::string_view id, const json::value &result)
{
    // The local methods' results are plain booleans: always encodable.
    send(*PageScript::resolveWithResult(id, result));
}

void NativeBridge::send(PageScript::PageCall call)
{
    if (webView_)
        PageScript::send(*webView_, std::move(call));
}

void NativeBridge::evaluate(const std::string &script)
{
    if (webView_)
        webView_->evaluateJavaScript(script);
}

void NativeBridge::notifyWhenIdle(std::function<void()> done)
{
    if (requestsInFlight_ > 0) {
        idleWaiters_.push_back(std::move(done));
        return;
    }
    services_.mainLoop.post([life = life_, done = std::move(done)] {
        if (life->bridge)
            done();
    });
}

void NativeBridge::resetWebSession(SessionResetWait wait)
{
    nowPlayingTimer_.reset();
    batteryTimer_.reset();
    ++webSessionGeneration_;
    webSessionToken_->cancel();
    webSessionToken_ = std::make_shared<WebSessionToken>();
    if (pendingPlaybackStart_) {
        pendingPlaybackStart_->cancel();
        pendingPlaybackStart_.reset();
    }
    backend_->cancelAllScripts();

    // No fast-forward or rewind may outlive the page that started it.
    auto cleanedUp = std::make_shared<std::promise<void>>();
    auto finished = cleanedUp->get_future();
    mediaQueue_.submit([&backend = *backend_, cleanedUp] {
        backend.endScans();
        cleanedUp->set_value();
    });
    if (wait == SessionResetWait::yes)
        finished.wait_for(sessionResetDeadline);
}

void NativeBridge::startTimers()
{
    nowPlayingTimer_.reset();
    batteryTimer_.reset();
    nowPlayingTimer_ = services_.mainLoop.schedule(nowPlayingInterval, MainLoop::Repeat::repeating,
                                                   [this] { schedulePoll(); });
    pushBattery();
    batteryTimer_ =
        services_.mainLoop.schedule(batteryInterval, MainLoop::Repeat::repeating, [this] { pushBattery(); });
}

void NativeBridge::schedulePoll()
{
    if (pollQueuedOrRunning_)
        return;
    auto depth =
        firmwareAwake_ && window_ && window_->isVisibleOnScreen() ? PollDepth::full : PollDepth::light;
    pollQueuedOrRunning_ = true;
    auto generation = ++pollRequestGeneration_;
    auto ticket = backend_->issuePollTicket();
    mediaQueue_.submit([session = webSessionToken_, depth, generation, ticket, &backend = *backend_,
                        &mainLoop = services_.mainLoop, life = life_] {
        if (session->isCancelled())
            return;
        std::optional<std::string> line;
        // A light poll reads only to keep the music transport's own queue moving while the device
        // sleeps or is hidden.
        if (depth == PollDepth::full) {
            try {
                if (auto reading = backend.pollNowPlaying(ticket))
                    line = PageScript::nowPlaying(*reading);
            } catch (const std::exception &) {
                // The next tick polls again; a failed poll shows nothing.
            }
        } else if (backend.musicUsesLogicalQueue()) {
            // A light poll reads only to keep the music transport's own queue moving while the
            // device sleeps or is hidden.
            backend.readMusicNowPlaying(ticket);
        }
        if (session->isCancelled())
            return;
        mainLoop.post([life, generation, depth, line = std::move(line)] {
            if (life->bridge)
                life->bridge->completePoll(generation, depth, line);
        });
    });
}

void NativeBridge::artworkArrived()
{
    if (pollQueuedOrRunning_)
        artworkPending_ = true;
    else
        scheduleArtworkPoll();
}

void NativeBridge::scheduleArtworkPoll()
{
    artworkPending_ = false;
    // Asleep or hidden, nothing is pushed; the poll after waking reads the cover with the rest.
    if (!firmwareAwake_ || !window_ || !window_->isVisibleOnScreen())
        return;
    pollQueuedOrRunning_ = true;
    auto generation = ++pollRequestGeneration_;
    mediaQueue_.submit([session = webSessionToken_, generation, &backend = *backend_,
                        &mainLoop = services_.mainLoop, life = life_] {
        if (session->isCancelled())
            return;
        std::optional<std::string> line;
        if (auto reading = backend.artworkChange())
            line = PageScript::nowPlaying(*reading);
        if (session->isCancelled())
            return;
        mainLoop.post([life, generation, line = std::move(line)] {
            if (life->bridge)
                life->bridge->completePoll(generation, PollDepth::artwork, line);
        });
    });
}

void NativeBridge::completePoll(std::int64_t generation, PollDepth depth,
                                const std::optional<std::string> &nowPlayingLine)
{
    // A request queued since (or sleep) advanced the generation and cleared the flag itself.
    if (generation != pollRequestGeneration_)
        return;
    pollQueuedOrRunning_ = false;
    if (depth != PollDepth::light && firmwareAwake_ && nowPlayingLine)
        evaluate(*nowPlayingLine);
    if (artworkPending_)
        scheduleArtworkPoll();
}

void NativeBridge::pushBattery()
{
    if (auto reading = services_.powerSource.battery())
        evaluate(PageScript::battery(*reading));
}

void NativeBridge::goToSleep()
{
    ++pollRequestGeneration_;
    pollQueuedOrRunning_ = false;
    backend_->cancelPolls();
}

} // namespace wheelbox
