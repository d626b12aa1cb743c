// What the firmware waits for from the media worker, each against a floor measured in the same run:
// - "getList" of the 100,000-song list, reply turned into JSON text, against serialising the same
//   rows alone;
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

#include <cstdlib>

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

struct SongsFixture {
    LibraryContents contents = makeSyntheticLibrary();
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
    MediaList rows;

    SongsFixture()
    {
        // The library is read once, as in the program after the first list.
        worker.handle({"getList", {{"path", "music"}}});
        InMemoryLibrarySource source(contents);
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
        auto reply = fixture.worker.handle({"getList", {{"path", "music/songs"}}});
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
