#include "BridgeTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace wheelbox::test {
namespace {
namespace json = boost::json;
using namespace std::chrono_literals;

std::vector<std::string> ids(const std::vector<BridgeHarness::Call> &calls)
{
    std::vector<std::string> result;
    for (const auto &call : calls)
        result.push_back(call.id);
    return result;
}

std::vector<std::string> functions(const std::vector<BridgeHarness::Call> &calls)
{
    std::vector<std::string> result;
    for (const auto &call : calls)
        result.push_back(call.function);
    return result;
}

json::value result(json::value value)
{
    return json::value{{"result", std::move(value)}};
}

json::value error(std::string_view text)
{
    return json::value{{"error", text}};
}

json::value echoed(std::string_view method)
{
    return result(json::value{{"method", method}});
}

void finishPoll(BridgeHarness &harness)
{
    ASSERT_TRUE(harness.loop.runUntil([&] { return !harness.bridge->isPollQueuedOrRunning(); }));
}

// --- Requests and answers

TEST(NativeBridgeRequests, AreEachAnsweredOnceInQueueOrderWhileLocalMethodsAnswerAtOnce)
{
    BridgeHarness harness;
    auto blocker = harness.backend->hold("getList");
    const char *methods[] = {"getList", "getAbout", "getNowPlaying", "refreshLibrary"};
    std::vector<std::string> queued;
    for (int i = 0; i < 40; ++i) {
        // Appended: GCC 12 at -O3 misreads "q" + std::string&& (-Wrestrict, a false positive).
        queued.push_back("q");
        queued.back() += std::to_string(i);
        harness.send(methods[i % 4], queued.back());
        if (i == 20)
            harness.send("setAlwaysOnTop", "local", {{"enabled", true}});
    }
    ASSERT_TRUE(blocker->awaitArrival());
    harness.loop.runPosted();
    // The queue is held by its first request; the local method did not wait for it.
    EXPECT_EQ(ids(harness.callsTo("resolve")), std::vector<std::string>{"local"});

    blocker->release();
    harness.settle();
    auto expected = queued;
    expected.insert(expected.begin(), "local");
    EXPECT_EQ(ids(harness.callsTo("resolve")), expected);
    EXPECT_EQ(harness.answerTo("q5"), echoed("getAbout"));
}

TEST(NativeBridgeRequests, AnswerWithTheResultTheErrorTextOrAnEmptyPayloadAndPushNowPlayingFirst)
{
    BridgeHarness harness;
    auto &replies = harness.backend->replies;
    replies["getList"] = [](const Request &) -> Reply {
        throw std::runtime_error("Unknown library path: music/x");
    };
    replies["setVolume"] = [](const Request &) {
        return Reply{};
    };
    replies["skip"] = [](const Request &) {
        return Reply{json::value{{"transport", "system"}}, json::value{{"title", "Next Song"}}};
    };
    replies["getNowPlaying"] = [](const Request &) {
        return Reply{json::value{{"position", std::nan("")}}, {}};
    };
    replies["pause"] = [](const Request &) {
        return Reply{json::value{{"transport", "music"}}, json::value{{"position", std::nan("")}}};
    };
    replies["beginSeek"] = [](const Request &request) {
        return Reply{json::value(request.params), {}};
    };

    harness.send("getList", "list", {{"path", "music/x"}});
    harness.send("setVolume", "volume", {{"volume", 30}});
    harness.send("skip", "skip");
    harness.send("getNowPlaying", "broken");
    harness.send("pause", "pause");
    harness.send("beginSeek", "seek", {{"direction", -1}, {"text", "a\"b"}});
    harness.settle();

    EXPECT_EQ(harness.answerTo("list"), error("Unknown library path: music/x"));
    EXPECT_EQ(harness.answerTo("volume"), json::object());
    EXPECT_EQ(harness.answerTo("skip"), result({{"transport", "system"}}));
    // A result that JSON cannot hold is answered with an error instead of never.
    EXPECT_EQ(harness.answerTo("broken"), error("Unencodable native answer: getNowPlaying"));
    // A reading that JSON cannot hold is not pushed; the answer still goes.
    EXPECT_EQ(harness.answerTo("pause"), result({{"transport", "music"}}));
    EXPECT_EQ(harness.answerTo("seek"), result({{"direction", -1}, {"text", "a\"b"}}));

    auto calls = harness.calls();
    ASSERT_EQ(functions(calls), (std::vector<std::string>{"resolve", "resolve", "nowPlaying", "resolve",
                                                          "resolve", "resolve", "resolve"}));
    EXPECT_EQ(calls[2].payload, (json::value{{"title", "Next Song"}}));
    EXPECT_EQ(calls[3].id, "skip");
}

// Past the threshold an answer, result or error, is handed to the page as the arguments of a call
// rather than written into a line; it keeps its place among the lines, after its own push.
TEST(NativeBridgeRequests, LargeAnswersArriveAsFunctionCallsInTheirPlaceAmongTheLines)
{
    BridgeHarness harness;
    auto &replies = harness.backend->replies;
    json::array items(1000, json::value{{"title", "Song \u2028\"x\""}});
    const std::string longError(PageScript::parsedPayloadThreshold, 'e');
    replies["getList"] = [&](const Request &) {
        return Reply{json::value{{"items", items}}, json::value{{"title", "Song"}}};
    };
    replies["search"] = [&](const Request &) -> Reply {
        throw std::runtime_error(longError);
    };

    harness.send("getList", "big");
    harness.send("search", "failed");
    harness.send("setVolume", "small", {{"volume", 30}});
    harness.settle();

    EXPECT_EQ(harness.answerTo("big"), result({{"items", items}}));
    EXPECT_EQ(harness.answerTo("failed"), error(longError));
    EXPECT_EQ(functions(harness.calls()),
              (std::vector<std::string>{"nowPlaying", "resolve", "resolve", "resolve"}));
    EXPECT_EQ(harness.view.functionCallsAt, (std::vector<std::size_t>{1, 2}));
}

struct TimeLimitCase {
    const char *method;
    std::chrono::seconds limit;
};

class RequestTimeLimits : public ::testing::TestWithParam<TimeLimitCase> {};

// Behind a request that holds the queue, a request still runs when it starts exactly at its
// deadline, and expires without reaching the back end a moment later.
TEST_P(RequestTimeLimits, ExpireRequestsThatWaitedPastTheirLimit)
{
    const auto &limit = GetParam();
    for (auto waited : {std::chrono::nanoseconds(limit.limit), limit.limit + 1ns}) {
        BridgeHarness harness;
        auto blocker = harness.backend->hold("getNowPlaying");
        harness.send("getNowPlaying", "blocker");
        harness.send(limit.method, "late");
        ASSERT_TRUE(blocker->awaitArrival());
        harness.clock.advance(waited);
        blocker->release();
        harness.settle();

        bool expired = waited > limit.limit;
        auto answer = harness.answerTo("late");
        if (expired)
            EXPECT_EQ(answer, error(std::string("Expired native request: ") + limit.method));
        else
            EXPECT_EQ(answer.at("result").at("method"), limit.method);
        EXPECT_EQ(harness.backend->handledMethods().size(), expired ? 1u : 2u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Methods, RequestTimeLimits,
    ::testing::Values(TimeLimitCase{"playCollection", 65s}, TimeLimitCase{"setPlaybackSetting", 65s},
                      TimeLimitCase{"getList", 35s}, TimeLimitCase{"refreshLibrary", 35s},
                      TimeLimitCase{"getAbout", 35s}, TimeLimitCase{"search", 35s},
                      TimeLimitCase{"ready", 25s}, TimeLimitCase{"select", 25s},
                      TimeLimitCase{"setTransport", 25s}, TimeLimitCase{"playPause", 25s},
                      TimeLimitCase{"pause", 25s}, TimeLimitCase{"skip", 25s}, TimeLimitCase{"seek", 25s},
                      TimeLimitCase{"beginSeek", 25s}, TimeLimitCase{"endSeek", 25s},
                      TimeLimitCase{"setVolume", 25s}, TimeLimitCase{"getSettings", 18s},
                      TimeLimitCase{"getNowPlaying", 18s}, TimeLimitCase{"noSuchMethod", 18s}),
    [](const auto &testCase) { return std::string(testCase.param.method); });

TEST(NativeBridgeRequests, AListQueuedBehindALongPlaybackStartExpiresWithoutRunning)
{
    BridgeHarness harness;
    auto start = harness.backend->hold("playCollection");
    harness.send("playCollection", "play");
    harness.send("getList", "list", {{"path", "music/songs"}});
    ASSERT_TRUE(start->awaitArrival());
    harness.clock.advance(36s);
    start->release();
    harness.settle();
    EXPECT_EQ(harness.answerTo("play"), echoed("playCollection"));
    EXPECT_EQ(harness.answerTo("list"), error("Expired native request: getList"));
    EXPECT_EQ(harness.backend->handledMethods(), std::vector<std::string>{"playCollection"});
}

TEST(NativeBridgeRequests, SetAlwaysOnTopAndGetSettingsReadAndWriteTheWindowLevel)
{
    BridgeHarness harness;
    harness.backend->replies["getSettings"] = [](const Request &) {
        return Reply{json::value{{"transport", "system"}, {"volume", 50.0}}, {}};
    };
    harness.send("setAlwaysOnTop", "on", {{"enabled", true}});
    EXPECT_EQ(harness.window.level(), floatingWindowLevel);
    EXPECT_EQ(harness.defaults.boolean("alwaysOnTop"), true);
    EXPECT_EQ(harness.answerTo("on"), result({{"alwaysOnTop", true}}));
    harness.send("getSettings", "settings-on");
    harness.settle();
    EXPECT_EQ(harness.answerTo("settings-on"),
              result({{"transport", "system"}, {"volume", 50.0}, {"alwaysOnTop", true}}));

    // Anything but a boolean means off.
    harness.send("setAlwaysOnTop", "off", {{"enabled", "yes"}});
    EXPECT_EQ(harness.window.level(), normalWindowLevel);
    EXPECT_EQ(harness.defaults.boolean("alwaysOnTop"), false);
    EXPECT_EQ(harness.answerTo("off"), result({{"alwaysOnTop", false}}));

    // Without a window the setting is still stored, and reads as off.
    harness.bridge->attach(&harness.view, nullptr);
    harness.send("setAlwaysOnTop", "detached", {{"enabled", true}});
    EXPECT_EQ(harness.defaults.boolean("alwaysOnTop"), true);
    harness.send("getSettings", "settings-detached");
    harness.settle();
    EXPECT_EQ(harness.answerTo("settings-detached"),
              result({{"transport", "system"}, {"volume", 50.0}, {"alwaysOnTop", false}}));
}

TEST(NativeBridgeRequests, QuitAnswersAndThenAsksToTerminate)
{
    BridgeHarness harness;
    std::size_t linesWhenTerminating = 0;
    harness.bridge = std::make_unique<NativeBridge>(
        std::make_unique<ScriptedBackend>(harness.backend),
        BridgeServices{harness.loop, harness.clock, harness.defaults, harness.haptics, harness.power, [&] {
                           linesWhenTerminating = harness.view.lines.size();
                       }});
    harness.bridge->attach(&harness.view, &harness.window);
    harness.send("quit", "bye");
    EXPECT_EQ(harness.answerTo("bye"), json::object());
    EXPECT_EQ(linesWhenTerminating, 1u);
}

TEST(NativeBridgeRequests, HapticTapsAtMostOnceIn20MillisecondsAndNeverWhileAsleep)
{
    BridgeHarness harness;
    auto tap = [&] {
        harness.send(json::value{{"method", "haptic"}, {"version", 1}});
    };
    tap(); // within 20 ms of the bridge's creation
    EXPECT_EQ(harness.haptics.taps, 0);
    harness.clock.advance(1s);
    tap();
    EXPECT_EQ(harness.haptics.taps, 1);
    harness.clock.advance(19ms);
    tap();
    EXPECT_EQ(harness.haptics.taps, 1);
    harness.clock.advance(1ms);
    tap();
    EXPECT_EQ(harness.haptics.taps, 2);

    harness.send("setFirmwareAwake", "sleep", {{"awake", false}});
    harness.clock.advance(1s);
    tap();
    EXPECT_EQ(harness.haptics.taps, 2);
    EXPECT_EQ(harness.callsTo("resolve").size(), 1u); // only setFirmwareAwake is answered
}

TEST(NativeBridgeRequests, WithoutAWebViewNothingIsEvaluatedAndRequestsStillSettle)
{
    BridgeHarness harness;
    harness.bridge->attach(nullptr, nullptr);
    harness.power.reading = BatteryReading{0.5, false};
    harness.send("ready", "r");
    harness.send("getList", "l");
    harness.send("setAlwaysOnTop", "t", {{"enabled", true}});
    harness.settle();
    EXPECT_TRUE(harness.view.lines.empty());
    EXPECT_EQ(harness.defaults.boolean("alwaysOnTop"), true);
}

// --- Superseding

struct SupersedingCase {
    const char *name;
    // Queued in this order behind a request that holds the queue; each method's id is its index.
    std::vector<const char *> methods;
    // The indices answered with the superseded-request text and never run.
    std::vector<std::size_t> superseded;
};

class Superseding : public ::testing::TestWithParam<SupersedingCase> {};

TEST_P(Superseding, FailsOvertakenPlaybackStartsWithoutRunningThem)
{
    const auto &sequence = GetParam();
    BridgeHarness harness;
    auto blocker = harness.backend->hold("getNowPlaying");
    harness.send("getNowPlaying", "blocker");
    for (std::size_t i = 0; i < sequence.methods.size(); ++i)
        harness.send(sequence.methods[i], std::to_string(i));
    blocker->release();
    harness.settle();

    std::vector<std::string> ran{"getNowPlaying"};
    for (std::size_t i = 0; i < sequence.methods.size(); ++i) {
        std::string method = sequence.methods[i];
        bool overtaken =
            std::find(sequence.superseded.begin(), sequence.superseded.end(), i) != sequence.superseded.end();
        EXPECT_EQ(harness.answerTo(std::to_string(i)),
                  overtaken ? error("Superseded native request: " + method) : echoed(method))
            << i;
        if (!overtaken)
            ran.push_back(method);
    }
    EXPECT_EQ(harness.backend->handledMethods(), ran);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Superseding,
    ::testing::Values(
        SupersedingCase{"playCollectionThenPause", {"playCollection", "pause"}, {0}},
        // Lists neither overtake nor are overtaken.
        SupersedingCase{"listsAroundAPlaybackStart", {"getList", "playCollection", "getList", "select"}, {1}},
        // Searches are reads: every one runs, and none overtakes a start.
        SupersedingCase{"searchesAroundAPlaybackStart", {"search", "search", "select", "search"}, {}},
        SupersedingCase{"twoSelects", {"select", "select"}, {0}},
        SupersedingCase{"everyAffectingMethodOvertakes",
                        {"select", "playPause", "playCollection", "skip", "setPlaybackSetting", "seek",
                         "select", "beginSeek", "select", "setTransport", "select", "pause"},
                        {0, 2, 4, 6, 8, 10}},
        // Only starts are overtaken: commands without a token always run.
        SupersedingCase{"commandsAreNeverOvertaken", {"playPause", "pause", "skip", "select"}, {}},
        SupersedingCase{"otherMethodsOvertakeNothing",
                        {"select", "getAbout", "endSeek", "setVolume", "getNowPlaying"},
                        {}}),
    [](const auto &testCase) { return std::string(testCase.param.name); });

TEST(NativeBridgeSuperseding, OnlyTheLatestStartStaysPendingAndItsDeliveryClearsIt)
{
    BridgeHarness harness;
    auto blocker = harness.backend->hold("getNowPlaying");
    harness.send("getNowPlaying", "blocker");
    harness.send("select", "first");
    auto beforeSecond = harness.backend->requestGeneration;
    harness.send("select", "second");
    // Overtaking cancels the scripts of the request it overtakes.
    EXPECT_GT(harness.backend->requestGeneration, beforeSecond);
    blocker->release();
    harness.settle();
    EXPECT_EQ(harness.answerTo("second"), echoed("select"));

    // The second's delivery cleared the pending start: a later command overtakes nothing.
    auto afterDelivery = harness.backend->requestGeneration;
    harness.send("pause", "pause");
    harness.settle();
    EXPECT_EQ(harness.backend->requestGeneration, afterDelivery);
}

TEST(NativeBridgeSuperseding, APlaybackStartOvertakenWhileRunningIsAnsweredAsSuperseded)
{
    BridgeHarness harness;
    auto running = harness.backend->hold("select");
    harness.send("select", "first");
    ASSERT_TRUE(running->awaitArrival());
    harness.send("setPlaybackSetting", "setting");
    running->release();
    harness.settle();
    EXPECT_EQ(harness.answerTo("first"), error("Superseded native request: select"));
    EXPECT_EQ(harness.answerTo("setting"), echoed("setPlaybackSetting"));
    EXPECT_EQ(harness.backend->handledMethods(), (std::vector<std::string>{"select", "setPlaybackSetting"}));
}

// --- Sessions

TEST(NativeBridgeSessions, AResetDropsEveryAnswerOfTheOldPageAndCleansUpBeforeNewRequests)
{
    BridgeHarness harness;
    auto running = harness.backend->hold("getList");
    harness.send("getList", "running");
    harness.send("getAbout", "waiting");
    harness.send("select", "start");
    ASSERT_TRUE(running->awaitArrival());
    auto before = harness.backend->requestGeneration;
    auto pollBefore = harness.backend->pollGeneration;
    harness.bridge->resetWebSession(SessionResetWait::no);
    // Every script is cancelled: requests' and polls'.
    EXPECT_GT(harness.backend->requestGeneration, before);
    EXPECT_GT(harness.backend->pollGeneration, pollBefore);

    harness.send("getAbout", "new-page");
    running->release();
    harness.settle();
    EXPECT_EQ(ids(harness.callsTo("resolve")), std::vector<std::string>{"new-page"});
    EXPECT_EQ(harness.backend->handledMethods(),
              (std::vector<std::string>{"getList", endScansMark, "getAbout"}));

    // The reset cleared the pending playback start: nothing is left to overtake.
    auto afterReset = harness.backend->requestGeneration;
    harness.send("pause", "pause");
    harness.settle();
    EXPECT_EQ(harness.backend->requestGeneration, afterReset);
}

TEST(NativeBridgeSessions, TheWaitingResetReturnsOnlyAfterTheCleanUpRan)
{
    BridgeHarness harness;
    auto running = harness.backend->hold("getList");
    harness.send("getList", "running");
    ASSERT_TRUE(running->awaitArrival());
    std::thread releaser([&] {
        std::this_thread::sleep_for(50ms);
        running->release();
    });
    harness.bridge->resetWebSession(SessionResetWait::yes);
    EXPECT_EQ(harness.backend->endScans, 1);
    releaser.join();
    harness.settle();
    EXPECT_TRUE(harness.view.lines.empty());
}

TEST(NativeBridgeSessions, AResetStopsTheTimersAndThePollsTheOldPageQueued)
{
    BridgeHarness harness;
    harness.send("ready", "ready");
    harness.settle();
    EXPECT_EQ(harness.loop.activeTimerCount(), 2u);
    auto running = harness.backend->hold("getAbout");
    harness.send("getAbout", "about");
    ASSERT_TRUE(running->awaitArrival());
    harness.loop.advance(1s); // a poll queues behind the request
    harness.bridge->resetWebSession(SessionResetWait::no);
    EXPECT_EQ(harness.loop.activeTimerCount(), 0u);
    running->release();
    harness.send("getSettings", "after"); // runs after the old poll's turn on the queue
    harness.settle();
    EXPECT_EQ(harness.backend->fullPolls, 0);
    EXPECT_EQ(harness.backend->lightReads, 0);
    harness.loop.advance(5s);
    EXPECT_EQ(harness.backend->fullPolls, 0);
}

TEST(NativeBridgeSessions, DestroyingTheBridgeDropsQueuedWorkAndUndeliveredAnswers)
{
    BridgeHarness harness;
    auto running = harness.backend->hold("getList");
    harness.send("ready", "ready");
    harness.send("getList", "running");
    harness.send("getAbout", "waiting");
    ASSERT_TRUE(running->awaitArrival());
    std::thread releaser([&] {
        std::this_thread::sleep_for(50ms);
        running->release();
    });
    harness.bridge.reset(); // joins the media queue: the waiting request fails without running
    releaser.join();
    harness.loop.advance(2s); // answers and polls posted for the bridge find it gone
    EXPECT_EQ(ids(harness.callsTo("resolve")), std::vector<std::string>{});
    EXPECT_EQ(harness.backend->handledMethods(), (std::vector<std::string>{"ready", "getList"}));
}

// --- Pushes

TEST(NativeBridgePushes, ReadyPushesTheBatteryAtOnceAndThenPollsAndBatteryOnTheirTimers)
{
    BridgeHarness harness;
    harness.power.reading = BatteryReading{0.5, true};
    harness.backend->readings = {json::value{{"title", "A"}}, std::nullopt};
    harness.send("ready", "ready");
    harness.settle();
    EXPECT_EQ(functions(harness.calls()), (std::vector<std::string>{"battery", "resolve"}));
    EXPECT_EQ(harness.calls()[0].payload, (json::value{{"level", 0.5}, {"charging", true}}));

    auto pollGeneration = harness.backend->pollGeneration;
    harness.loop.advance(1s);
    finishPoll(harness);
    harness.loop.advance(1s);
    finishPoll(harness);
    EXPECT_EQ(harness.backend->fullPolls, 2);
    // Each poll carries the ticket issued when it was queued, so a cancellation can end its scripts.
    EXPECT_EQ(harness.backend->pollTickets.front(), PollTicket{pollGeneration});
    auto pushes = harness.callsTo("nowPlaying");
    ASSERT_EQ(pushes.size(), 1u); // the second poll found nothing new
    EXPECT_EQ(pushes[0].payload, (json::value{{"title", "A"}}));

    harness.power.reading = BatteryReading{0.25, false};
    harness.loop.advance(58s);
    auto batteries = harness.callsTo("battery");
    ASSERT_EQ(batteries.size(), 2u);
    EXPECT_EQ(batteries[1].payload, (json::value{{"level", 0.25}, {"charging", false}}));
}

TEST(NativeBridgePushes, AMachineWithoutBatteryNeverGetsABatteryPush)
{
    BridgeHarness harness;
    harness.send("ready", "ready");
    harness.settle();
    harness.send("setFirmwareAwake", "wake", {{"awake", true}});
    harness.loop.advance(121s);
    harness.settle();
    EXPECT_TRUE(harness.callsTo("battery").empty());
}

TEST(NativeBridgePushes, APollResultThatArrivesAfterARequestWasQueuedIsDropped)
{
    BridgeHarness harness;
    harness.send("ready", "ready");
    harness.settle();
    harness.backend->readings = {json::value{{"title", "Stale"}}, json::value{{"title", "Fresh"}}};
    harness.backend->pollGate = std::make_shared<Gate>();
    auto gate = harness.backend->pollGate;
    harness.loop.advance(1s);
    ASSERT_TRUE(gate->awaitArrival());
    auto pollGeneration = harness.backend->pollGeneration;
    harness.send("getAbout", "about");
    EXPECT_GT(harness.backend->pollGeneration, pollGeneration); // the running poll's scripts end
    gate->release();
    harness.settle();
    EXPECT_TRUE(harness.callsTo("nowPlaying").empty());

    // The request cleared the flag, so the next tick polls again and its result counts.
    harness.backend->pollGate.reset();
    harness.loop.advance(1s);
    finishPoll(harness);
    ASSERT_EQ(harness.callsTo("nowPlaying").size(), 1u);
    EXPECT_EQ(harness.callsTo("nowPlaying")[0].payload, (json::value{{"title", "Fresh"}}));
}

TEST(NativeBridgePushes, OnlyOnePollIsQueuedOrRunningAtATime)
{
    BridgeHarness harness;
    harness.send("ready", "ready");
    harness.settle();
    harness.backend->pollGate = std::make_shared<Gate>();
    auto gate = harness.backend->pollGate;
    harness.loop.advance(3s);
    ASSERT_TRUE(gate->awaitArrival());
    gate->release();
    finishPoll(harness);
    EXPECT_EQ(harness.backend->fullPolls, 1);
    harness.backend->pollGate.reset();
    harness.loop.advance(1s);
    finishPoll(harness);
    EXPECT_EQ(harness.backend->fullPolls, 2);
}

TEST(NativeBridgePushes, AHiddenWindowGetsLightPollsThatOnlyKeepTheMusicQueueMoving)
{
    BridgeHarness harness;
    harness.send("ready", "ready");
    harness.settle();
    harness.window.visible = false;
    harness.backend->readings = {json::value{{"title", "Unseen"}}};
    harness.loop.advance(1s);
    finishPoll(harness);
    EXPECT_EQ(harness.backend->fullPolls, 0);
    EXPECT_EQ(harness.backend->lightReads, 0); // no logical queue: nothing to read

    harness.backend->logicalQueue = true;
    harness.loop.advance(1s);
    finishPoll(harness);
    EXPECT_EQ(harness.backend->lightReads, 1);
    EXPECT_EQ(harness.backend->pollTickets.back(), PollTicket{harness.backend->pollGeneration});
    EXPECT_TRUE(harness.callsTo("nowPlaying").empty());
}

TEST(NativeBridgePushes, SleepMakesPollsLightAndDropsTheRunningOneAndWakingPollsAtOnce)
{
    BridgeHarness harness;
    harness.power.reading = BatteryReading{0.8, false};
    harness.send("ready", "ready");
    harness.settle();
    harness.backend->pollGate = std::make_shared<Gate>();
    auto gate = harness.backend->pollGate;
    harness.backend->readings = {json::value{{"title", "Asleep"}}, json::value{{"title", "Awake"}}};
    harness.loop.advance(1s);
    ASSERT_TRUE(gate->awaitArrival());

    auto pollGeneration = harness.backend->pollGeneration;
    harness.send("setFirmwareAwake", "sleep", {{"awake", false}});
    EXPECT_EQ(harness.answerTo("sleep"), result({{"awake", false}}));
    EXPECT_FALSE(harness.bridge->isFirmwareAwake());
    EXPECT_GT(harness.backend->pollGeneration, pollGeneration);
    gate->release();
    harness.backend->pollGate.reset();
    harness.loop.advance(3s); // light polls; the timers keep running
    finishPoll(harness);
    EXPECT_EQ(harness.backend->fullPolls, 1);
    EXPECT_EQ(harness.loop.activeTimerCount(), 2u);
    EXPECT_TRUE(harness.callsTo("nowPlaying").empty());

    // Waking, with "awake" missing (it counts as true): a full poll and a battery push at once.
    auto batteries = harness.callsTo("battery").size();
    harness.send(json::value{{"method", "setFirmwareAwake"}, {"version", 1}, {"id", "wake"}});
    EXPECT_EQ(harness.answerTo("wake"), result({{"awake", true}}));
    EXPECT_EQ(harness.callsTo("battery").size(), batteries + 1);
    finishPoll(harness);
    EXPECT_EQ(harness.backend->fullPolls, 2);
    ASSERT_EQ(harness.callsTo("nowPlaying").size(), 1u);
    EXPECT_EQ(harness.callsTo("nowPlaying")[0].payload, (json::value{{"title", "Awake"}}));
}

// --- Covers

TEST(NativeBridgeArtwork, ACoverThatArrivesIsPushedWithoutAPollOfThePlayer)
{
    BridgeHarness harness;
    harness.send("ready", "ready");
    harness.settle();
    ASSERT_TRUE(harness.backend->artworkArrival) << "the bridge listens for covers";
    harness.backend->artworkReadings = {json::value{{"title", "A"}, {"artwork", "velto://app/artwork/X"}}};
    harness.backend->artworkArrived();
    finishPoll(harness);
    EXPECT_EQ(harness.backend->artworkPolls, 1);
    EXPECT_EQ(harness.backend->fullPolls, 0) << "the player is not asked again";
    ASSERT_EQ(harness.callsTo("nowPlaying").size(), 1u);
    EXPECT_EQ(harness.callsTo("nowPlaying")[0].payload.at("artwork"), "velto://app/artwork/X");

    // Nothing new (the reading that carries it was pushed already): nothing is pushed.
    harness.backend->artworkArrived();
    finishPoll(harness);
    EXPECT_EQ(harness.backend->artworkPolls, 2);
    EXPECT_EQ(harness.callsTo("nowPlaying").size(), 1u);
}

TEST(NativeBridgeArtwork, ACoverArrivingDuringAPollIsAskedForWhenThePollEnds)
{
    BridgeHarness harness;
    harness.send("ready", "ready");
    harness.settle();
    harness.backend->pollGate = std::make_shared<Gate>();
    auto gate = harness.backend->pollGate;
    harness.loop.advance(1s);
    ASSERT_TRUE(gate->awaitArrival());
    harness.backend->artworkArrived();
    harness.loop.runPosted();
    EXPECT_EQ(harness.backend->artworkPolls, 0) << "one poll at a time";
    harness.backend->artworkReadings = {json::value{{"artwork", "velto://app/artwork/Y"}}};
    gate->release();
    ASSERT_TRUE(harness.loop.runUntil([&] { return harness.callsTo("nowPlaying").size() == 1; }));
    EXPECT_EQ(harness.backend->artworkPolls, 1);
}

TEST(NativeBridgeArtwork, AsleepOrHiddenNothingIsPushedAndAGoneBridgeHearsNothing)
{
    BridgeHarness harness;
    harness.send("ready", "ready");
    harness.settle();
    harness.backend->artworkReadings = {json::value{{"artwork", "velto://app/artwork/Z"}}};
    harness.send("setFirmwareAwake", "sleep", {{"awake", false}});
    harness.backend->artworkArrived();
    harness.loop.runPosted();
    harness.send("setFirmwareAwake", "wake", {{"awake", true}});
    harness.window.visible = false;
    harness.backend->artworkArrived();
    harness.loop.runPosted();
    harness.settle();
    EXPECT_EQ(harness.backend->artworkPolls, 0);
    EXPECT_TRUE(harness.callsTo("nowPlaying").empty());

    harness.bridge.reset();
    EXPECT_FALSE(harness.backend->artworkArrival) << "the handler goes with the bridge";
}

} // namespace
} // namespace wheelbox::test
