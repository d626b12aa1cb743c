#include "SyntheticLibrary.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace wheelbox::bench {
namespace {

// A tiny deterministic generator: std distributions differ between standard libraries.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() noexcept
    {
        // splitmix64
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    std::size_t below(std::size_t bound) noexcept { return static_cast<std::size_t>(next() % bound); }

    template <typename Array> std::string_view pick(const Array &values) noexcept
    {
        return values[below(std::size(values))];
    }

  private:
    std::uint64_t state_;
};

constexpr std::array<std::string_view, 48> words = {
    "Love",         "Night",      "Blue", "River",  "Light",   "Heart",   "Dream",    "Fire",
    "Song",         "Rain",       "Été",  "Mañana", "Corazón", "Lumière", "Straße",   "Ça va",
    "Ångström",     "Smørrebrød", "Noël", "Café",   "Любовь",  "Ночь",    "Звезда",   "Αγάπη",
    "Θάλασσα",      "夜",         "東京", "さくら", "사랑",    "별",      "the",      "of",
    "and",          "in",         "my",   "your",   "Part",    "Live",    "Remix",    "Mix",
    "Ce\u0301line", "Jose\u0301", "Zoë",  "Ñu",     "Øst",     "Œuvre",   "İstanbul", "Ærø"};

std::string phrase(Random &random, int minimumWords, int extraWords)
{
    std::string text;
    auto count = minimumWords + static_cast<int>(random.below(static_cast<std::size_t>(extraWords) + 1));
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            text += ' ';
        text += random.pick(words);
    }
    // Numbered titles ("Track 2", "Track 10") exercise numeric ordering.
    if (random.below(5) == 0)
        text.append(" ").append(std::to_string(random.below(30) + 1));
    return text;
}

} // namespace

LibraryContents makeSyntheticLibrary(const SyntheticLibraryShape &shape)
{
    Random random(0x57686565'6c626f78ULL);
    LibraryContents contents;

    std::vector<std::string> artists;
    for (int i = 0; i < shape.artists; ++i) {
        auto name = phrase(random, 1, 2);
        // Some names arrive with stray spaces, as tags often do.
        if (i % 50 == 0)
            name = std::string("  ").append(name).append(" ");
        if (i % 7 != 0)
            name.append(" ").append(std::to_string(i));
        artists.push_back(std::move(name));
    }
    std::vector<std::string> genres;
    for (int i = 0; i < shape.genres; ++i)
        genres.push_back(phrase(random, 1, 1).append(" ").append(std::to_string(i)));

    struct Album {
        std::uint64_t id;
        std::string title;
        std::optional<std::size_t> artist; // none: a compilation
        int discs;
    };
    std::vector<Album> albums;
    for (int i = 0; i < shape.albums; ++i) {
        std::optional<std::size_t> artist =
            i % 40 == 0 ? std::nullopt : std::optional(random.below(artists.size()));
        albums.push_back({0xA1B0000000000000ULL + static_cast<std::uint64_t>(i) * 7919, phrase(random, 1, 3),
                          artist, i % 25 == 0 ? 2 : 1});
    }

    contents.songs.reserve(static_cast<std::size_t>(shape.songs));
    std::vector<int> tracksOnAlbum(albums.size(), 0);
    for (int i = 0; i < shape.songs; ++i) {
        auto albumIndex = random.below(albums.size());
        const auto &album = albums[albumIndex];
        LibrarySong song;
        song.persistentID = random.next();
        song.mediaKind = i % 97 == 0 ? LibraryMediaKind::podcast : LibraryMediaKind::song;
        song.title = phrase(random, 1, 4);
        auto artist = album.artist ? *album.artist : random.below(artists.size());
        if (random.below(100) != 0)
            song.artistName = artists[artist];
        song.album = LibraryAlbum{
            .persistentID = album.id,
            .title = album.title,
            .discNumber = 1 + static_cast<int>(random.below(static_cast<std::size_t>(album.discs))),
            // As MPD reports it; from the song's own ID, so the other draws stay as they were.
            .artistName = album.artist && song.persistentID % 2 == 0 ? std::optional(artists[*album.artist])
                                                                     : std::nullopt};
        song.duration = 90 + static_cast<double>(song.persistentID % 400'000) / 1000;
        song.genre = genres[random.below(genres.size())];
        song.trackNumber = ++tracksOnAlbum[albumIndex];
        contents.songs.push_back(std::move(song));
    }

    for (int i = 0; i < shape.playlists; ++i) {
        LibraryPlaylist playlist;
        playlist.persistentID = 0xC0FFEE0000000000ULL + static_cast<std::uint64_t>(i);
        playlist.name = phrase(random, 1, 3);
        playlist.kind = i % 10 == 0 ? LibraryPlaylistKind::smart : LibraryPlaylistKind::regular;
        auto length = 20 + random.below(400);
        for (std::size_t item = 0; item < length; ++item)
            playlist.items.push_back(random.below(contents.songs.size()));
        contents.playlists.push_back(std::move(playlist));
    }
    return contents;
}

} // namespace wheelbox::bench
