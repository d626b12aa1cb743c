// Search over a large library (300,000 songs unless WHEELBOX_BENCH_SONGS says otherwise), each
// figure against a baseline measured in the same run:
// - the search index's build time and heap against the library read it comes with (the source's
//   read and the snapshot);
// - "search" answered by the media worker, for one letter up to two words, against scanning the
//   snapshot's titles for the same query (folding each title per query, and over titles folded
//   beforehand) and against MPD's own `search any` over the same songs.
// With MPD_HOST set the library is the one that MPD serves (bench/worker/search-run starts one over
// a generated database) and MPD is searched too; without, a synthetic library in many scripts.
#include "../library/SyntheticLibrary.hpp"

#include "lib/icu/InitialLetters.hpp"
#include "lib/icu/SearchText.hpp"
#include "lib/icu/TextCollator.hpp"
#include "lib/mpd/MpdConnection.hpp"
#include "lib/posix/HeapMemory.hpp"
#include "library/LibraryIndex.hpp"
#include "library/LibrarySnapshot.hpp"
#include "library/SearchIndex.hpp"
#include "linux/LinuxHostFacts.hpp"
#include "linux/MpdLibrarySource.hpp"
#include "platform/Clock.hpp"
#include "platform/RandomSource.hpp"
#include "platform/RunningApplications.hpp"
#include "platform/UserDefaults.hpp"
#include "transport/ScriptRunner.hpp"
#include "worker/MediaWorker.hpp"

#include <benchmark/benchmark.h>
#include <mpd/client.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>

namespace wheelbox::bench {
namespace {

using namespace std::chrono_literals;

bool fromMpd()
{
    return std::getenv("MPD_HOST") != nullptr;
}

int songCount()
{
    const char *songs = std::getenv("WHEELBOX_BENCH_SONGS");
    return songs ? std::atoi(songs) : 300'000;
}

std::unique_ptr<LibrarySource> makeSource()
{
    if (fromMpd())
        return std::make_unique<MpdLibrarySource>();
    return std::make_unique<InMemoryLibrarySource>(makeSyntheticLibrary({.songs = songCount(),
                                                                         .albums = songCount() / 12,
                                                                         .artists = songCount() / 30,
                                                                         .genres = 300,
                                                                         .playlists = 500}));
}

// The queries, by what they are: the generated MPD library names its songs "Song 000123" by
// "Artist 0042"; the synthetic one draws words from a list ("Love", "Night", …).
std::string query(const std::string &name)
{
    static const std::map<std::string, std::pair<std::string, std::string>> queries = {
        {"oneLetter", {"s", "l"}},   {"twoLetters", {"so", "lo"}},
        {"word", {"song", "love"}},  {"twoWords", {"song 0123", "love ni"}},
        {"noMatch", {"zzz", "zzz"}},
    };
    auto &pair = queries.at(name);
    return fromMpd() ? pair.first : pair.second;
}

// The library's clock never moves: no search in the run reads the library again.
class StillClock final : public Clock {
  public:
    std::chrono::nanoseconds uptime() const noexcept override { return 1h; }
    std::chrono::system_clock::time_point now() const noexcept override { return {}; }
};

class NothingRuns final : public RunningApplications {
  public:
    bool isRunning(std::string_view) override { return false; }
};

struct Fixture {
    std::unique_ptr<LibrarySource> source = makeSource();
    StillClock clock;
    ToolScriptRunner runner;
    NothingRuns applications;
    InMemoryUserDefaults defaults;
    LinuxHostFacts host;
    MediaWorker worker{MediaWorkerServices{.runner = runner,
                                           .applications = applications,
                                           .defaults = defaults,
                                           .clock = clock,
                                           .random = RandomSource::system(),
                                           .host = host,
                                           .makeLibrarySource = [this] { return makeSource(); },
                                           .collationLocale = ""}};
    icu::TextCollator collator{""};
    icu::InitialLetters initials{""};
    std::optional<LibrarySnapshot> snapshot;
    std::vector<std::string> foldedTitles;

    Fixture()
    {
        worker.handle({"search", {{"query", "a"}}});
        snapshot.emplace(source->open(), collator);
        for (const auto &song : snapshot->tracks())
            foldedTitles.push_back(icu::foldForSearch(snapshot->text(song.title)));
    }
};

Fixture &fixture()
{
    static Fixture instance;
    return instance;
}

// The processor time of this thread, which other work on a busy machine does not inflate.
double threadMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// One library read as the provider does it, in its parts: the source's read (elapsed time, as MPD
// does most of its work), the snapshot with the songs' order the lists build at every read, and the
// search index with the other orders it reads (this thread's processor time); and the heap each
// keeps.
void libraryRead(benchmark::State &state)
{
    auto &library = fixture();
    double read = 0, snapshot = 0, index = 0, snapshotBytes = 0, indexBytes = 0, songs = 0;
    for (auto _ : state) {
        auto heap = posix::heapBytesInUse();
        auto start = std::chrono::steady_clock::now();
        auto contents = library.source->open();
        read += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        auto processor = threadMilliseconds();
        std::optional<LibrarySnapshot> built;
        built.emplace(std::move(contents), library.collator);
        // The contents were freed as the snapshot was built from them. The songs' order is the lists' with
        // every read; the others are built for the search.
        LibraryIndex orders(*built, library.initials);
        orders.songsByTitle();
        auto ordersDone = threadMilliseconds();
        auto heapWithOrders = posix::heapBytesInUse();
        SearchIndex searchIndex(orders);
        auto indexDone = threadMilliseconds();
        auto heapWithIndex = posix::heapBytesInUse();
        snapshot += ordersDone - processor;
        index += indexDone - ordersDone;
        snapshotBytes = static_cast<double>(heapWithOrders) - static_cast<double>(heap);
        indexBytes = static_cast<double>(heapWithIndex) - static_cast<double>(heapWithOrders);
        songs = static_cast<double>(built->tracks().size());
    }
    auto runs = static_cast<double>(state.iterations());
    state.counters["readMs"] = read / runs;
    state.counters["snapshotMs"] = snapshot / runs;
    state.counters["indexMs"] = index / runs;
    state.counters["snapshotBytes"] = snapshotBytes;
    state.counters["indexBytes"] = indexBytes;
    state.counters["songs"] = songs;
}
BENCHMARK(libraryRead)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void workerSearch(benchmark::State &state, const char *name)
{
    auto &library = fixture();
    auto text = query(name);
    std::size_t rows = 0;
    for (auto _ : state) {
        auto reply = library.worker.handle({"search", {{"query", text}}});
        rows = reply.result->at("items").as_array().size();
        benchmark::DoNotOptimize(reply);
    }
    state.counters["rows"] = static_cast<double>(rows);
}

std::vector<std::string> wordsOf(std::string_view folded)
{
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start < folded.size()) {
        auto end = std::min(folded.find(' ', start), folded.size());
        if (end > start)
            words.emplace_back(folded.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

bool matches(const std::vector<std::string> &query, std::string_view folded)
{
    auto words = wordsOf(folded);
    return std::all_of(query.begin(), query.end(), [&](const auto &prefix) {
        return std::any_of(words.begin(), words.end(),
                           [&](const auto &word) { return word.starts_with(prefix); });
    });
}

// What a search without an index does on every keystroke: every title folded and tried, then the
// first fifty matches in title order. Titles alone, so it does less than the worker's search.
void scanSnapshot(benchmark::State &state, const char *name, bool folded)
{
    auto &library = fixture();
    auto words = wordsOf(icu::foldForSearch(query(name)));
    const auto &tracks = library.snapshot->tracks();
    std::size_t found = 0;
    for (auto _ : state) {
        std::vector<std::uint32_t> hits;
        for (std::uint32_t i = 0; i < tracks.size(); ++i) {
            bool hit = folded ? matches(words, library.foldedTitles[i])
                              : matches(words, icu::foldForSearch(library.snapshot->text(tracks[i].title)));
            if (hit)
                hits.push_back(i);
        }
        auto first = std::min<std::size_t>(hits.size(), 50);
        std::partial_sort(hits.begin(), hits.begin() + static_cast<std::ptrdiff_t>(first), hits.end(),
                          [&](auto left, auto right) {
                              return std::tie(tracks[left].titleRank, tracks[left].persistentID) <
                                     std::tie(tracks[right].titleRank, tracks[right].persistentID);
                          });
        found = hits.size();
        benchmark::DoNotOptimize(hits);
    }
    state.counters["matches"] = static_cast<double>(found);
}

// MPD's own search over every tag, for at most as many songs as the worker's answer holds rows.
void mpdSearchAny(benchmark::State &state, const char *name)
{
    if (!fromMpd()) {
        state.SkipWithError("needs MPD_HOST (bench/worker/search-run)");
        return;
    }
    auto connection = mpd::MpdConnection::open(mpd::defaultMpdAddress(), 10s);
    auto *c = connection.get();
    auto text = query(name);
    std::size_t songs = 0;
    for (auto _ : state) {
        songs = 0;
        if (!mpd_search_db_songs(c, false) ||
            !mpd_search_add_any_tag_constraint(c, MPD_OPERATOR_DEFAULT, text.c_str()) ||
            !mpd_search_add_window(c, 0, 250) || !mpd_search_commit(c)) {
            state.SkipWithError(mpd_connection_get_error_message(c));
            return;
        }
        while (auto *song = mpd_recv_song(c)) {
            ++songs;
            mpd_song_free(song);
        }
        if (!mpd_response_finish(c)) {
            state.SkipWithError(mpd_connection_get_error_message(c));
            return;
        }
    }
    state.counters["rows"] = static_cast<double>(songs);
}

#define SEARCH_BENCHMARKS(name)                                                                              \
    BENCHMARK_CAPTURE(workerSearch, name, #name)->Unit(benchmark::kMillisecond);                             \
    BENCHMARK_CAPTURE(scanSnapshot, name, #name, false)->Unit(benchmark::kMillisecond)->Iterations(2);       \
    BENCHMARK_CAPTURE(scanSnapshot, name##Folded, #name, true)                                               \
        ->Unit(benchmark::kMillisecond)                                                                      \
        ->Iterations(3);                                                                                     \
    BENCHMARK_CAPTURE(mpdSearchAny, name, #name)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)

SEARCH_BENCHMARKS(oneLetter);
SEARCH_BENCHMARKS(twoLetters);
SEARCH_BENCHMARKS(word);
SEARCH_BENCHMARKS(twoWords);
SEARCH_BENCHMARKS(noMatch);

} // namespace
} // namespace wheelbox::bench

BENCHMARK_MAIN();
