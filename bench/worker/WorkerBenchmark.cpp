// What the firmware waits for from the media worker, each against a floor measured in the same run:
// - "getList" of the 100,000-song list, reply turned into JSON text, against serialising the same
//   rows alone;
// - "getList" of a window of 50 rows of the songs list at 100,000 and 300,000 songs (median of
//   single calls, reply as JSON text), against the whole list's answer at the same size;
// - "ready" followed by one now-playing poll, against one `mpc status`. These need the players:
//   MPD at MPD_HOST, a session bus at DBUS_SESSION_BUS_ADDRESS (scripts/bench starts both).
#include "../library/SyntheticLibrary.hpp"

#include "library/MusicLibraryProvider.hpp"
#include "linux/LinuxHostFacts.hpp"
#include "linux/LinuxRunningApplications.hpp"
#include "linux/MpdLibrarySource.hpp"
#include "model/MediaJSON.hpp"
#include "platform/Clock.hpp"
#include "platform/RandomSource.hpp"
#include "platform/UserDefaults.hpp"
#include "transport/ScriptRunner.hpp"
#include "worker/MediaWorker.hpp"

#include <benchmark/benchmark.h>
#include <boost/json/serialize.hpp>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

extern char **environ;

namespace wheelbox::bench {
namespace {

// Counts the script runs, so the figure can be told per run of the script tool.
class CountingRunner final : public ScriptRunner {
  public:
    std::optional<std::string> run(std::string_view script, int timeoutSeconds) override
    {
        ++runs;
        return tool_.run(script, timeoutSeconds);
    }
    std::unique_ptr<StartedScript> start(std::string_view script, int timeoutSeconds) override
    {
        ++runs;
        return tool_.start(script, timeoutSeconds);
    }
    std::int64_t runs = 0;

  private:
    ToolScriptRunner tool_;
};

class NothingRuns final : public RunningApplications {
  public:
    bool isRunning(std::string_view) override { return false; }
};

// A worker over a synthetic library of `songs` songs (at 100,000 the library's usual shape) that has
// read it once, as the program has after its first list.
struct SizedFixture {
    explicit SizedFixture(int songs)
        : contents(makeSyntheticLibrary({.songs = songs,
                                         .albums = songs / 25 * 2,
                                         .artists = songs / 100 * 3,
                                         .genres = 300,
                                         .playlists = 500}))
    {
        worker.handle({"getList", {{"path", "music"}}});
    }

    LibraryContents contents;
    ToolScriptRunner runner;
    NothingRuns applications;
    InMemoryUserDefaults defaults;
    LinuxHostFacts host;
    MediaWorker worker{MediaWorkerServices{
        .runner = runner,
        .applications = applications,
        .defaults = defaults,
        .clock = Clock::system(),
        .random = RandomSource::system(),
        .host = host,
        .makeLibrarySource = [this] { return std::make_unique<InMemoryLibrarySource>(contents); },
        .collationLocale = ""}};
};

SizedFixture &sized(int songs)
{
    static std::map<int, std::unique_ptr<SizedFixture>> fixtures;
    auto &fixture = fixtures[songs];
    if (!fixture)
        fixture = std::make_unique<SizedFixture>(songs);
    return *fixture;
}

struct SongsFixture {
    SizedFixture &library = sized(100'000);
    MediaList rows;

    SongsFixture()
    {
        InMemoryLibrarySource source(library.contents);
        rows = MusicLibraryProvider(source, Clock::system(), "").list("music/songs");
    }
};

SongsFixture &songs()
{
    static SongsFixture fixture;
    return fixture;
}

void workerSongsList(benchmark::State &state)
{
    auto &fixture = songs();
    for (auto _ : state) {
        auto reply = fixture.library.worker.handle({"getList", {{"path", "music/songs"}}});
        auto text = boost::json::serialize(*reply.result);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(workerSongsList)->Unit(benchmark::kMillisecond);

void songRowsAsJSON(benchmark::State &state)
{
    const auto &rows = songs().rows;
    for (auto _ : state) {
        auto text = boost::json::serialize(toJSON(rows));
        benchmark::DoNotOptimize(text);
    }
    state.counters["rows"] = static_cast<double>(rows.items.size());
}
BENCHMARK(songRowsAsJSON)->Unit(benchmark::kMillisecond);

// One window of 50 rows of the songs list per call, walking through the list, timed call by call:
// the median is what a wheel step waits for.
void workerSongsWindow(benchmark::State &state)
{
    auto &fixture = sized(static_cast<int>(state.range(0)));
    const std::int64_t songs = state.range(0);
    std::vector<double> calls;
    std::int64_t offset = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        auto reply =
            fixture.worker.handle({"getList", {{"path", "music/songs"}, {"offset", offset}, {"limit", 50}}});
        auto text = boost::json::serialize(*reply.result);
        calls.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(text);
        offset = (offset + 7919) % songs;
    }
    std::sort(calls.begin(), calls.end());
    state.counters["medianMs"] = calls[calls.size() / 2];
    state.counters["maxMs"] = calls.back();
}
BENCHMARK(workerSongsWindow)->Arg(100'000)->Arg(300'000)->Unit(benchmark::kMillisecond);

// The same list whole, as the firmware used to ask for it.
void workerSongsWhole(benchmark::State &state)
{
    auto &fixture = sized(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto reply = fixture.worker.handle({"getList", {{"path", "music/songs"}}});
        auto text = boost::json::serialize(*reply.result);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(workerSongsWhole)->Arg(100'000)->Arg(300'000)->Unit(benchmark::kMillisecond);

bool playersAreThere(benchmark::State &state)
{
    if (!std::getenv("MPD_HOST") || !std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        state.SkipWithError("needs MPD_HOST and DBUS_SESSION_BUS_ADDRESS (scripts/bench worker)");
        return false;
    }
    return true;
}

// The first thing the firmware asks, and the poll that follows a second later: the app's own
// road through the script runner and wheelbox-osascript.
void readyAndPoll(benchmark::State &state)
{
    if (!playersAreThere(state))
        return;
    CountingRunner runner;
    LinuxRunningApplications applications;
    InMemoryUserDefaults defaults;
    LinuxHostFacts host;
    MediaWorker worker(
        MediaWorkerServices{.runner = runner,
                            .applications = applications,
                            .defaults = defaults,
                            .clock = Clock::system(),
                            .random = RandomSource::system(),
                            .host = host,
                            .makeLibrarySource = [] { return std::make_unique<MpdLibrarySource>(); },
                            .collationLocale = ""});
    for (auto _ : state) {
        auto reply = worker.handle({"ready", {}});
        auto payload = worker.pollNowPlaying({});
        benchmark::DoNotOptimize(reply);
        benchmark::DoNotOptimize(payload);
    }
    state.counters["scriptRuns"] =
        benchmark::Counter(static_cast<double>(runner.runs), benchmark::Counter::kAvgIterations);
}
BENCHMARK(readyAndPoll)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// The floor: one MPD client process asking for the player's status.
void mpcStatus(benchmark::State &state)
{
    if (!playersAreThere(state))
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char program[] = "mpc";
    char argument[] = "status";
    char *arguments[] = {program, argument, nullptr};
    for (auto _ : state) {
        pid_t child = 0;
        int status = 0;
        if (posix_spawnp(&child, program, &actions, nullptr, arguments, environ) != 0 ||
            waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("mpc status failed");
            break;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}
BENCHMARK(mpcStatus)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

} // namespace
} // namespace wheelbox::bench

BENCHMARK_MAIN();
