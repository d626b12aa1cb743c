// The library as the app reads it from MPD, against the MPD at MPD_HOST (bench/library/run and
// bench/osascript/run start one over a generated database):
//   mpdLibraryRead             the source's read of every song and playlist;
//   mpdLibraryFullReload       a provider reload that reads and sorts everything, as every reload
//                              did before the source could tell that nothing changed;
// and three comparisons, each timed in alternation within one run so their ratio holds on a busy
// machine (medians in milliseconds as counters):
//   unchangedReloadVsMpcStats  a reload with nothing changed; `mpc stats` as a process; and what a
//                              check by MPD's stamps alone would cost (connect, stats, playlists);
//   staleVsFreshSongsList      "music/songs" more than a minute after the last read, nothing
//                              changed (the injected clock moves, nobody sleeps), and right after;
//   changedVsFullReload        a reload after a real change (a stored playlist saved or deleted),
//                              and the full reload after the same change.
#include "lib/mpd/MpdConnection.hpp"
#include "library/MusicLibraryProvider.hpp"
#include "linux/MpdLibrarySource.hpp"
#include "platform/Clock.hpp"
#include "support/ManualClock.hpp"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <vector>

namespace wheelbox::bench {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

// A source that cannot tell whether the library changed: every reload reads it all.
class FullReadSource final : public LibrarySource {
  public:
    LibraryContents open() override { return source_.open(); }

  private:
    MpdLibrarySource source_;
};

double milliseconds(const std::function<void()> &work)
{
    auto start = steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    auto middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Runs the named steps once per iteration, each iteration starting one step further on so that no
// step always follows the same one, and reports each one's median time.
void alternate(benchmark::State &state,
               const std::vector<std::pair<const char *, std::function<void()>>> &steps)
{
    std::map<std::string, std::vector<double>> times;
    std::size_t first = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const auto &[name, step] = steps[(first + i) % steps.size()];
            times[name].push_back(milliseconds(step));
        }
        first = (first + 1) % steps.size();
    }
    for (const auto &[name, values] : times)
        state.counters[name] = median(values);
}

// `mpc stats` as a user would run it, its output dropped.
void runMpcStats()
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char program[] = "mpc", command[] = "stats";
    char *arguments[] = {program, command, nullptr};
    pid_t pid = -1;
    if (posix_spawnp(&pid, program, &actions, nullptr, arguments, environ) == 0)
        waitpid(pid, nullptr, 0);
    posix_spawn_file_actions_destroy(&actions);
}

// A check by stamps alone: a new connection, MPD's statistics and the stored playlists.
void checkStamps()
{
    auto connection = mpd::MpdConnection::open(mpd::defaultMpdAddress(), 10s);
    mpd_stats_free(mpd_run_stats(connection.get()));
    mpd_send_list_playlists(connection.get());
    while (auto *playlist = mpd_recv_playlist(connection.get()))
        mpd_playlist_free(playlist);
    mpd_response_finish(connection.get());
    connection.check();
}

// A real change of the library: a stored playlist of one song saved, then deleted, in turn.
class PlaylistChange {
  public:
    PlaylistChange() : connection_(mpd::MpdConnection::open(mpd::defaultMpdAddress(), 10s))
    {
        auto *mpd = connection_.get();
        if (mpd_search_db_songs(mpd, true) && mpd_search_add_expression(mpd, "(base '')") &&
            mpd_search_add_window(mpd, 0, 1) && mpd_search_commit(mpd)) {
            if (mpd::SongPtr song{mpd_recv_song(mpd)})
                uri_ = mpd_song_get_uri(song.get());
        }
        mpd_response_finish(mpd);
        connection_.check();
    }
    ~PlaylistChange()
    {
        if (saved_)
            mpd_run_rm(connection_.get(), name);
    }
    PlaylistChange(const PlaylistChange &) = delete;
    PlaylistChange &operator=(const PlaylistChange &) = delete;

    void make()
    {
        auto *mpd = connection_.get();
        saved_ = saved_ ? !mpd_run_rm(mpd, name) : mpd_run_playlist_add(mpd, name, uri_.c_str());
        connection_.check();
    }

  private:
    static constexpr const char *name = "Wheelbox bench change";
    mpd::MpdConnection connection_;
    std::string uri_;
    bool saved_ = false;
};

bool loaded(benchmark::State &state, const MusicLibraryProvider &provider)
{
    if (!provider.isLoaded())
        state.SkipWithError(provider.loadError().value_or("no library").c_str());
    return provider.isLoaded();
}

void mpdLibraryRead(benchmark::State &state)
{
    MpdLibrarySource source;
    std::size_t songs = 0;
    for (auto _ : state) {
        try {
            songs = source.open().songs.size();
        } catch (const std::exception &error) {
            state.SkipWithError(error.what());
            return;
        }
    }
    state.counters["songs"] = static_cast<double>(songs);
}
BENCHMARK(mpdLibraryRead)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void mpdLibraryFullReload(benchmark::State &state)
{
    FullReadSource source;
    MusicLibraryProvider provider(source, Clock::system(), "");
    if (!loaded(state, provider))
        return;
    for (auto _ : state)
        provider.reload();
}
BENCHMARK(mpdLibraryFullReload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void unchangedReloadVsMpcStats(benchmark::State &state)
{
    MpdLibrarySource source;
    MusicLibraryProvider provider(source, Clock::system(), "");
    if (!loaded(state, provider))
        return;
    alternate(state, {{"unchangedReloadMs",
                       [&] {
                           provider.reload();
                       }},
                      {"mpcStatsMs", runMpcStats},
                      {"stampsCheckMs", checkStamps}});
    if (!provider.isLoaded())
        state.SkipWithError("the library went away");
}
BENCHMARK(unchangedReloadVsMpcStats)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(40);

void staleVsFreshSongsList(benchmark::State &state)
{
    MpdLibrarySource source;
    test::ManualClock clock;
    MusicLibraryProvider provider(source, clock, "");
    if (!loaded(state, provider))
        return;
    std::size_t rows = 0;
    alternate(state, {{"freshListMs",
                       [&] {
                           rows = provider.list("music/songs").items.size();
                       }},
                      {"staleListMs", [&] {
                           clock.advance(61s);
                           rows = provider.list("music/songs").items.size();
                       }}});
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(staleVsFreshSongsList)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(12);

void changedVsFullReload(benchmark::State &state)
{
    MpdLibrarySource source;
    MusicLibraryProvider provider(source, Clock::system(), "");
    FullReadSource fullSource;
    MusicLibraryProvider full(fullSource, Clock::system(), "");
    if (!loaded(state, provider) || !loaded(state, full))
        return;
    PlaylistChange change;
    alternate(state, {{"changedReloadMs",
                       [&] {
                           change.make();
                           provider.reload();
                       }},
                      {"fullReloadMs", [&] {
                           change.make();
                           full.reload();
                       }}});
    // The last change must be read: then both list the same playlists.
    provider.reload();
    full.reload();
    if (provider.list("music/playlists") != full.list("music/playlists"))
        state.SkipWithError("a changed library was not read again");
}
BENCHMARK(changedVsFullReload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(6);

} // namespace
} // namespace wheelbox::bench

BENCHMARK_MAIN();
