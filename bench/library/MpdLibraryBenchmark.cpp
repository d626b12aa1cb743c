// The library as the app reads it from MPD: the source's read of every song and playlist, and a
// whole provider reload (read plus snapshot). Needs an MPD at MPD_HOST; bench/osascript/run starts
// one that serves 100,000 songs.
#include "library/MusicLibraryProvider.hpp"
#include "linux/MpdLibrarySource.hpp"
#include "platform/Clock.hpp"

#include <benchmark/benchmark.h>

namespace wheelbox::bench {
namespace {

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

void mpdLibraryReload(benchmark::State &state)
{
    MpdLibrarySource source;
    MusicLibraryProvider provider(source, Clock::system(), "");
    if (!provider.isLoaded()) {
        state.SkipWithError(provider.loadError().value_or("no library").c_str());
        return;
    }
    for (auto _ : state)
        provider.reload();
}
BENCHMARK(mpdLibraryReload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace
} // namespace wheelbox::bench

BENCHMARK_MAIN();
