#pragma once

#include "model/NowPlayingState.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Album covers. The platform reads them (from MPD, a music folder, a player's artwork address),
// scales them once and keeps them in a cache; the page reaches a cover only through an address
// under velto://app/artwork/ that names a cache entry, never through a path of its own choosing.
namespace wheelbox {

// The two pictures kept of each cover, by the screen pixels they are drawn at on the largest
// device on a 2x screen: Now Playing's cover (84 design pixels) and a list row's (32).
enum class ArtworkSize : int { cover = 168, row = 64 };

// One cache entry: a cover (the album's key) at one size. Its name is the key as 16 upper-case
// hexadecimal digits, a hyphen and the size in pixels: "00FF12AB34CD56EF-168". Nothing else is
// a name, so a name never holds a separator, a dot or a percent sign.
struct ArtworkName {
    std::uint64_t key = 0;
    ArtworkSize size = ArtworkSize::cover;

    bool operator==(const ArtworkName &) const = default;
};

std::string formatArtworkName(const ArtworkName &name);
// Only the exact form formatArtworkName writes; anything else is no name.
std::optional<ArtworkName> parseArtworkName(std::string_view text) noexcept;

// Where the page loads an entry: "velto://app/artwork/" and the name.
inline constexpr std::string_view artworkAddressPrefix = "velto://app/artwork/";
// The folder of the scheme's paths that names entries rather than firmware files.
inline constexpr std::string_view artworkPathFolder = "artwork/";
std::string artworkAddress(const ArtworkName &name);

// Which player a reading comes from, as far as its cover is concerned.
enum class ArtworkPlayer { music, spotify };

// What the media worker asks. Media queue only; never waits for a picture.
class ArtworkSource {
  public:
    virtual ~ArtworkSource() = default;

    // The address of the cover of what `reading` plays, once the cache holds it; nothing while it
    // is being read, when there is none, or for the empty reading. The first time a song is asked
    // for, its album's cover is looked for in the background; the arrival handler is called when
    // that ends with a cover.
    virtual std::optional<std::string> nowPlayingArtwork(const NowPlayingState &reading,
                                                         ArtworkPlayer player) = 0;

    // The address of an album's row picture (the album's persistent ID), read when the page first
    // loads it; nothing when the album is known to have no cover.
    virtual std::optional<std::string> albumArtwork(std::uint64_t albumID) = 0;

    // Called on any thread, after a cover asked for by nowPlayingArtwork arrived. Set once,
    // before the first question; an empty function stops the calls.
    virtual void setArrivalHandler(std::function<void()> handler) = 0;
};

// A cache entry's bytes, as the scheme hands them to the page.
struct ArtworkEntry {
    std::vector<std::byte> data;
    std::string mimeType;
};

// What the resource scheme asks. Thread-safe.
class ArtworkEntries {
  public:
    virtual ~ArtworkEntries() = default;

    // Calls `done` exactly once, on any thread, possibly before returning: with the entry, or with
    // nothing when there is none of that name (an album without a cover, a key the program never
    // gave out). An album entry not read yet is read first.
    virtual void open(const ArtworkName &name, std::function<void(std::optional<ArtworkEntry>)> done) = 0;
};

} // namespace wheelbox
