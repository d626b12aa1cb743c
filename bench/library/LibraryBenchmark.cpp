// Library provider timings on a 100,000-song library: a whole reload, each kind of list, and the
// songs list as the firmware receives it (list plus JSON text) against serialising the same
// already-sorted rows alone; and the heap the snapshot keeps per song, against the contents it is
// built from, and what the lists' orders add once every kind of list has been opened.
#include "SyntheticLibrary.hpp"

#include "lib/posix/HeapMemory.hpp"

#include "library/MusicLibraryProvider.hpp"
#include "library/PathToken.hpp"
#include "model/MediaJSON.hpp"
#include "model/PersistentID.hpp"
#include "platform/Clock.hpp"

#include <benchmark/benchmark.h>
#include <boost/json.hpp>

namespace wheelbox::bench {
namespace {

struct Fixture {
    InMemoryLibrarySource source{makeSyntheticLibrary()};
    MusicLibraryProvider provider{source, Clock::system(), ""};

    // Sample paths, taken from the lists themselves so each one exists.
    std::string artist, artistAlbum, album, genre, playlist;

    Fixture()
    {
        auto artists = provider.list("music/artists");
        artist = artists.items.at(artists.items.size() / 2).id;
        artistAlbum = provider.list(artist).items.at(1).id;
        album = provider.list("music/albums").items.at(4000).id;
        genre = provider.list("music/genres").items.at(150).id;
        playlist = provider.list("music/playlists").items.at(250).id;
    }
};

Fixture &fixture()
{
    static Fixture instance;
    return instance;
}

void reload(benchmark::State &state)
{
    auto &provider = fixture().provider;
    for (auto _ : state)
        provider.reload();
}
BENCHMARK(reload)->Unit(benchmark::kMillisecond);

void list(benchmark::State &state, std::string Fixture::*sample, const char *fixed)
{
    auto &library = fixture();
    std::string path = sample ? library.*sample : std::string(fixed);
    std::size_t rows = 0;
    for (auto _ : state) {
        auto result = library.provider.list(path);
        rows = result.items.size();
        benchmark::DoNotOptimize(result);
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK_CAPTURE(list, songs, nullptr, "music/songs")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(list, artists, nullptr, "music/artists")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(list, albums, nullptr, "music/albums")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(list, genres, nullptr, "music/genres")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(list, playlists, nullptr, "music/playlists")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(list, allArtistsAlbums, nullptr, "music/artists/all")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(list, allArtistsSongs, nullptr, "music/artists/all/all")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(list, oneArtist, &Fixture::artist, nullptr)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(list, oneArtistAlbum, &Fixture::artistAlbum, nullptr)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(list, oneAlbum, &Fixture::album, nullptr)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(list, oneGenre, &Fixture::genre, nullptr)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(list, onePlaylist, &Fixture::playlist, nullptr)->Unit(benchmark::kMillisecond);

// Heap bytes per song: what a provider keeps once it has read the library, and the contents the
// source hands it (the songs as read, before any text work), each measured on its own.
void snapshotBytes(benchmark::State &state)
{
    auto &source = fixture().source;
    double snapshot = 0;
    double contents = 0;
    std::size_t songs = 0;
    for (auto _ : state) {
        auto before = posix::heapBytesInUse();
        {
            auto read = source.open();
            songs = read.songs.size();
            contents = static_cast<double>(posix::heapBytesInUse() - before);
        }
        before = posix::heapBytesInUse();
        MusicLibraryProvider provider(source, Clock::system(), "");
        snapshot = static_cast<double>(posix::heapBytesInUse() - before);
        benchmark::DoNotOptimize(&provider);
    }
    state.counters["snapshotBytesPerSong"] = snapshot / static_cast<double>(songs);
    state.counters["contentsBytesPerSong"] = contents / static_cast<double>(songs);
}
BENCHMARK(snapshotBytes)->Unit(benchmark::kMillisecond)->Iterations(1);

// Heap bytes per song of the lists' orders besides the Songs order (which the snapshot above holds):
// what a provider keeps once every kind of list has been opened.
void orderBytes(benchmark::State &state)
{
    auto &library = fixture();
    double bytes = 0;
    double songs = 0;
    for (auto _ : state) {
        MusicLibraryProvider provider(library.source, Clock::system(), "");
        songs = static_cast<double>(provider.window("music/songs", 0, 0).count);
        auto before = posix::heapBytesInUse();
        for (const auto &path : {std::string("music/artists/all/all"), std::string("music/artists/all"),
                                 std::string("music/albums"), std::string("music/artists"),
                                 std::string("music/genres"), library.album, library.genre})
            benchmark::DoNotOptimize(provider.window(path, 0, 1));
        bytes = static_cast<double>(posix::heapBytesInUse() - before);
    }
    state.counters["orderBytesPerSong"] = bytes / songs;
}
BENCHMARK(orderBytes)->Unit(benchmark::kMillisecond)->Iterations(1);

// What the firmware waits for when it opens Songs: the list and its JSON text.
void songsListAsJSON(benchmark::State &state)
{
    auto &provider = fixture().provider;
    for (auto _ : state) {
        auto text = boost::json::serialize(toJSON(provider.list("music/songs")));
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(songsListAsJSON)->Unit(benchmark::kMillisecond);

// The floor for the line above: the same rows, already built and sorted, only turned into JSON text.
void sortedSongRowsAsJSON(benchmark::State &state)
{
    auto rows = fixture().provider.list("music/songs");
    for (auto _ : state) {
        auto text = boost::json::serialize(toJSON(rows));
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(sortedSongRowsAsJSON)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace wheelbox::bench

BENCHMARK_MAIN();
