// The music transport as the user meets it, against the same work done with mpc in the same run:
// one now-playing read against `mpc status`, and a 200-track queue start (until MPD plays) against
// `mpc clear`, `mpc add` of the 200 songs and `mpc play`. Needs an MPD at MPD_HOST serving at least
// 200 playable songs; bench/transport/run starts one.
#include "lib/mpd/MpdConnection.hpp"
#include "lib/mpd/MpdIdentity.hpp"
#include "lib/mpd/MpdPointers.hpp"
#include "linux/LinuxRunningApplications.hpp"
#include "model/PersistentID.hpp"
#include "platform/AutomationTool.hpp"
#include "platform/Clock.hpp"
#include "platform/RandomSource.hpp"
#include "platform/UserDefaults.hpp"
#include "transport/MusicAppTransport.hpp"
#include "transport/ScriptRunner.hpp"

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace wheelbox::bench {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t queueLength = 200;

mpd::MpdConnection connect()
{
    const char *host = std::getenv("MPD_HOST");
    return mpd::MpdConnection::open(mpd::parseMpdAddress(host ? host : "", ""), 5s);
}

// The first 200 songs MPD lists; fewer when it has fewer.
std::vector<std::string> songURIs(const mpd::MpdConnection &connection)
{
    std::vector<std::string> uris;
    mpd_send_list_all(connection.get(), "");
    while (auto *entity = mpd_recv_entity(connection.get())) {
        if (mpd_entity_get_type(entity) == MPD_ENTITY_TYPE_SONG)
            uris.emplace_back(mpd_song_get_uri(mpd_entity_get_song(entity)));
        mpd_entity_free(entity);
    }
    mpd_response_finish(connection.get());
    connection.check();
    if (uris.size() > queueLength)
        uris.resize(queueLength);
    return uris;
}

// Runs a program to its end; throws when it fails.
void runProgram(std::vector<std::string> arguments)
{
    std::vector<char *> argv;
    for (auto &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + arguments[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(arguments[0] + " " + arguments[1] + " failed");
}

void waitUntilPlaying(const mpd::MpdConnection &connection)
{
    for (auto deadline = std::chrono::steady_clock::now() + 10s;;) {
        mpd::StatusPtr status(mpd_run_status(connection.get()));
        connection.check();
        if (mpd_status_get_state(status.get()) == MPD_STATE_PLAY)
            return;
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("MPD did not start playing");
        std::this_thread::sleep_for(1ms);
    }
}

// Times `start` until MPD plays; MPD is stopped between the runs, outside the time.
void timeStarts(benchmark::State &state, const mpd::MpdConnection &connection,
                const std::function<void()> &start)
{
    for (auto _ : state) {
        start();
        waitUntilPlaying(connection);
        state.PauseTiming();
        mpd_run_stop(connection.get());
        connection.check();
        state.ResumeTiming();
    }
}

// The program's own parts: the real runner, the stand-in, the running check.
struct Program {
    ToolScriptRunner runner;
    LinuxRunningApplications applications;
    InMemoryUserDefaults defaults;
    MusicAppTransport transport{runner, applications, defaults, Clock::system(), RandomSource::system()};
};

void nowPlayingRead(benchmark::State &state)
{
    overrideAutomationToolPath(WHEELBOX_OSASCRIPT_PATH);
    Program program;
    if (program.transport.nowPlaying().source != "music") {
        state.SkipWithError("the transport read nothing: is a song loaded?");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(program.transport.nowPlaying());
}
BENCHMARK(nowPlayingRead)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

void mpcStatus(benchmark::State &state)
{
    for (auto _ : state)
        runProgram({"mpc", "-q", "status"});
}
BENCHMARK(mpcStatus)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

void queueStart(benchmark::State &state)
{
    overrideAutomationToolPath(WHEELBOX_OSASCRIPT_PATH);
    auto connection = connect();
    auto uris = songURIs(connection);
    if (uris.size() < queueLength)
        return state.SkipWithError("MPD serves fewer than 200 songs");
    std::vector<std::string> ids;
    std::vector<std::int64_t> indices;
    for (const auto &uri : uris) {
        ids.push_back(formatPersistentID(mpd::songPersistentID(uri)));
        indices.push_back(static_cast<std::int64_t>(indices.size()));
    }
    Program program;
    timeStarts(state, connection, [&] {
        program.transport.playQueue({.volume = 50,
                                     .window = ids,
                                     .windowIndex = 0,
                                     .chosenID = ids[0],
                                     .repeatMode = "Off",
                                     .queue = ids,
                                     .queuePosition = 0,
                                     .canonical = ids,
                                     .canonicalIndices = indices,
                                     .shuffle = false,
                                     .restore = std::nullopt});
    });
}
BENCHMARK(queueStart)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void mpcQueueStart(benchmark::State &state)
{
    auto connection = connect();
    auto uris = songURIs(connection);
    if (uris.size() < queueLength)
        return state.SkipWithError("MPD serves fewer than 200 songs");
    std::vector<std::string> add = {"mpc", "-q", "add"};
    add.insert(add.end(), uris.begin(), uris.end());
    timeStarts(state, connection, [&] {
        runProgram({"mpc", "-q", "clear"});
        runProgram(add);
        runProgram({"mpc", "-q", "play"});
    });
}
BENCHMARK(mpcQueueStart)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

} // namespace
} // namespace wheelbox::bench

BENCHMARK_MAIN();
