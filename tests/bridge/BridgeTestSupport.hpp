#pragma once

#include "bridge/NativeBridge.hpp"
#include "bridge/PageScript.hpp"
#include "platform/HapticPerformer.hpp"
#include "platform/PowerSource.hpp"
#include "platform/UserDefaults.hpp"
#include "support/ManualClock.hpp"
#include "support/ManualMainLoop.hpp"

#include <boost/json.hpp>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace wheelbox::test {

// Holds a back-end call on the media queue until the test lets it go.
class Gate {
  public:
    void release()
    {
        {
            std::lock_guard guard(lock_);
            open_ = true;
        }
        changed_.notify_all();
    }

    // True once a call has arrived and waits at the gate.
    bool awaitArrival(std::chrono::milliseconds timeout = std::chrono::milliseconds(10'000))
    {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, timeout, [this] { return arrived_; });
    }

    void pass()
    {
        std::unique_lock guard(lock_);
        arrived_ = true;
        changed_.notify_all();
        changed_.wait(guard, [this] { return open_; });
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool arrived_ = false;
    bool open_ = false;
};

// Where the session clean-up ran, among the handled methods.
inline constexpr const char *endScansMark = "#endScans";

// What the scripted back end saw and what it should do; shared between the test (main thread) and
// the back end (media queue), and kept by the test after the bridge and its back end are gone.
struct BackendScript {
    std::mutex lock;
    std::vector<std::string> handled;
    std::map<std::string, std::function<Reply(const Request &)>> replies;
    std::map<std::string, std::shared_ptr<Gate>> gates;
    std::deque<std::optional<boost::json::value>> readings; // one per full poll; empty: nothing changed
    std::shared_ptr<Gate> pollGate;
    std::vector<PollTicket> pollTickets; // the ticket of each poll read, full or light
    // Advanced by each cancellation the bridge asks for, as the script runner's generations are.
    std::uint64_t pollGeneration = 0;
    std::uint64_t requestGeneration = 0;
    int fullPolls = 0;
    int lightReads = 0;
    int endScans = 0;
    bool logicalQueue = false;
    // Covers: what artworkChange() answers, one per call (empty: nothing changed), how often it was
    // asked, and the handler the bridge gave.
    std::deque<std::optional<boost::json::value>> artworkReadings;
    int artworkPolls = 0;
    std::function<void()> artworkArrival;

    // Calls the bridge's arrival handler, from a thread of the covers' own as the program does.
    void artworkArrived();

    std::shared_ptr<Gate> hold(const std::string &method)
    {
        std::lock_guard guard(lock);
        return gates[method] = std::make_shared<Gate>();
    }
    std::vector<std::string> handledMethods()
    {
        std::lock_guard guard(lock);
        return handled;
    }
};

// A back end that answers every method with {"method": name}, or as the script says.
class ScriptedBackend final : public MediaBackend {
  public:
    explicit ScriptedBackend(std::shared_ptr<BackendScript> script) : script_(std::move(script)) {}

    Reply handle(const Request &request) override;
    std::optional<boost::json::value> pollNowPlaying(PollTicket poll) override;
    bool musicUsesLogicalQueue() noexcept override;
    void readMusicNowPlaying(PollTicket poll) noexcept override;
    void endScans() noexcept override;
    PollTicket issuePollTicket() noexcept override;
    void cancelPolls() noexcept override;
    void cancelRequests() noexcept override;
    void cancelAllScripts() noexcept override;
    std::optional<boost::json::value> artworkChange() noexcept override;
    void setArtworkArrivalHandler(std::function<void()> handler) override;

  private:
    std::shared_ptr<BackendScript> script_;
};

// Records every line, and every function call as the line that does the same, in order.
class RecordingWebView final : public BridgeWebView {
  public:
    void evaluateJavaScript(const std::string &script) override { lines.push_back(script); }
    void callFunction(PageFunctionCall call) override
    {
        functionCallsAt.push_back(lines.size());
        lines.push_back(PageScript::asLine(std::move(call)));
    }
    std::vector<std::string> lines;
    // Which of the lines were function calls.
    std::vector<std::size_t> functionCallsAt;
};

class FakeWindow final : public BridgeWindow {
  public:
    int level() const override { return level_; }
    void setLevel(int level) override { level_ = level; }
    bool isVisibleOnScreen() const override { return visible; }

    int level_ = normalWindowLevel;
    bool visible = true;
};

class CountingHaptics final : public HapticPerformer {
  public:
    void performAlignmentTap() override { ++taps; }
    int taps = 0;
};

class FixedPowerSource final : public PowerSource {
  public:
    std::optional<BatteryReading> battery() const override { return reading; }
    std::optional<BatteryReading> reading;
};

// One bridge over fakes, a manual clock and a manual main loop, with a real media queue.
class BridgeHarness {
  public:
    BridgeHarness();
    ~BridgeHarness();

    // Posts one message body from the firmware's own origin (or the one given).
    void send(const boost::json::value &body, const MessageOrigin &origin = firmwareOrigin());
    void send(std::string_view method, std::string_view id, boost::json::object params = {});
    // Runs the main loop until every queued request has been delivered (or dropped).
    void settle();

    // The answer lines (resolve calls) and pushes seen so far, as (function, id, payload) triples.
    struct Call {
        std::string function; // "resolve", "nowPlaying", "battery"
        std::string id;       // resolve only
        boost::json::value payload;
    };
    std::vector<Call> calls() const;
    std::vector<Call> callsTo(std::string_view function) const;
    // The answer to `id`, which must have been answered exactly once.
    boost::json::value answerTo(std::string_view id) const;
    std::size_t answerCount(std::string_view id) const;

    static MessageOrigin firmwareOrigin() { return {"velto", "app"}; }

    ManualClock clock;
    ManualMainLoop loop{clock};
    InMemoryUserDefaults defaults;
    CountingHaptics haptics;
    FixedPowerSource power;
    RecordingWebView view;
    FakeWindow window;
    int terminations = 0;
    std::shared_ptr<BackendScript> backend = std::make_shared<BackendScript>();
    std::unique_ptr<NativeBridge> bridge;
};

// Parses one line the bridge evaluated back into its call. Fails the test on anything else.
BridgeHarness::Call parseCall(const std::string &line);

} // namespace wheelbox::test
