// The bridge's own cost, measured from a message body in to the answer line out, on the real media
// queue and a GLib main loop, against the work it wraps:
// - 10,000 "getSettings" through the bridge against 10,000 direct back-end calls;
// - "getList" of "music/songs" at 100,000 songs through the bridge against serialising the same,
//   already sorted rows alone (the floor of bench/library).
// The back end here is a minimal one over the library; the media worker's own figures come from
// the same benchmarks run with it.
#include "../library/SyntheticLibrary.hpp"

#include "bridge/NativeBridge.hpp"
#include "bridge/PageJSON.hpp"
#include "library/MusicLibraryProvider.hpp"
#include "linux/GLibMainLoop.hpp"
#include "model/MediaJSON.hpp"
#include "platform/Clock.hpp"
#include "platform/HapticPerformer.hpp"
#include "platform/PowerSource.hpp"
#include "platform/UserDefaults.hpp"

#include <benchmark/benchmark.h>
#include <boost/json.hpp>

#include <optional>
#include <string>

namespace wheelbox::bench {
namespace {
namespace json = boost::json;

// The library's lists and a settings answer, as the worker gives them, and nothing else.
class LibraryBackend final : public MediaBackend {
  public:
    explicit LibraryBackend(MusicLibraryProvider &provider) : provider_(provider) {}

    Reply handle(const Request &request) override
    {
        if (request.method == "getList")
            return {toJSON(provider_.list(request.params.at("path").as_string())), std::nullopt};
        return {json::value{{"transport", "system"}, {"volume", 50.0}}, std::nullopt};
    }
    std::optional<json::value> pollNowPlaying(PollTicket) override { return std::nullopt; }
    bool musicUsesLogicalQueue() noexcept override { return false; }
    void readMusicNowPlaying(PollTicket) noexcept override {}
    void endScans() noexcept override {}
    PollTicket issuePollTicket() noexcept override { return {}; }
    void cancelPolls() noexcept override {}
    void cancelRequests() noexcept override {}
    void cancelAllScripts() noexcept override {}
    std::optional<boost::json::value> artworkChange() noexcept override { return std::nullopt; }
    void setArtworkArrivalHandler(std::function<void()>) override {}

  private:
    MusicLibraryProvider &provider_;
};

class NoBattery final : public PowerSource {
  public:
    std::optional<BatteryReading> battery() const override { return std::nullopt; }
};

// Counts the answer lines and ends the loop's run when the expected number has arrived.
class CountingWebView final : public BridgeWebView {
  public:
    explicit CountingWebView(GLibMainLoop &loop) : loop_(loop) {}
    void expect(std::size_t lines)
    {
        expected_ = lines;
        seen_ = 0;
    }
    void evaluateJavaScript(const std::string &script) override { seen(script.size()); }
    void callFunction(PageFunctionCall call) override
    {
        std::size_t size = call.body.size();
        for (const auto &argument : call.arguments)
            size += argument.text.size();
        seen(size);
    }
    std::size_t bytes = 0;

  private:
    void seen(std::size_t size)
    {
        bytes = size;
        if (++seen_ == expected_)
            loop_.quit();
    }

    GLibMainLoop &loop_;
    std::size_t expected_ = 0, seen_ = 0;
};

struct Fixture {
    InMemoryLibrarySource source{makeSyntheticLibrary()};
    MusicLibraryProvider provider{source, Clock::system(), ""};
    glib::MainContextPtr context{g_main_context_new()};
    GLibMainLoop loop{context.get()};
    InMemoryUserDefaults defaults;
    NoHapticPerformer haptics;
    NoBattery power;
    CountingWebView view{loop};
    NativeBridge bridge{std::make_unique<LibraryBackend>(provider),
                        BridgeServices{loop, Clock::system(), defaults, haptics, power, [] {
                                       }}};
    LibraryBackend direct{provider};

    Fixture() { bridge.attach(&view, nullptr); }

    // Posts each body as the page would and runs the loop until every answer is out.
    void answer(const std::vector<std::string> &bodies)
    {
        view.expect(bodies.size());
        for (const auto &body : bodies)
            bridge.receiveMessage(body, {"velto", "app"});
        loop.run();
    }
};

Fixture &fixture()
{
    static Fixture instance;
    return instance;
}

constexpr int settingsRequests = 10'000;

void getSettingsThroughTheBridge(benchmark::State &state)
{
    auto &bench = fixture();
    std::vector<std::string> bodies;
    for (int i = 0; i < settingsRequests; ++i)
        bodies.push_back(R"({"method":"getSettings","version":1,"id":"r)" + std::to_string(i) + R"("})");
    for (auto _ : state)
        bench.answer(bodies);
}
BENCHMARK(getSettingsThroughTheBridge)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void getSettingsDirect(benchmark::State &state)
{
    auto &bench = fixture();
    Request request{"getSettings", {}};
    for (auto _ : state)
        for (int i = 0; i < settingsRequests; ++i)
            benchmark::DoNotOptimize(bench.direct.handle(request));
}
BENCHMARK(getSettingsDirect)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void songsListThroughTheBridge(benchmark::State &state)
{
    auto &bench = fixture();
    std::vector<std::string> body{
        R"({"method":"getList","version":1,"id":"songs","params":{"path":"music/songs"}})"};
    for (auto _ : state)
        bench.answer(body);
    state.counters["lineBytes"] = static_cast<double>(bench.view.bytes);
}
BENCHMARK(songsListThroughTheBridge)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// The floor: the same rows, already built and sorted, only turned into JSON text.
void sortedSongRowsAsJSON(benchmark::State &state)
{
    auto rows = fixture().provider.list("music/songs");
    for (auto _ : state) {
        auto text = json::serialize(toJSON(rows));
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(sortedSongRowsAsJSON)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// The bridge's own JSON writer on the same rows, against Boost's serialiser just above.
void sortedSongRowsAsPageJSON(benchmark::State &state)
{
    auto rows = fixture().provider.list("music/songs");
    for (auto _ : state) {
        auto text = toPageJSON(toJSON(rows));
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(sortedSongRowsAsPageJSON)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

} // namespace
} // namespace wheelbox::bench

BENCHMARK_MAIN();
