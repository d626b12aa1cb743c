#pragma once

#include "linux/ArtworkPicture.hpp"
#include "platform/Artwork.hpp"
#include "platform/Clock.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace wheelbox {

// The covers read so far, kept across runs in one folder ($XDG_CACHE_HOME/wheelbox/artwork): one
// file per entry, named by its entry name, holding the scaled picture; and "absent", the covers
// looked for and not found, one line per cover with when it was looked for. A cover is present
// when all its sizes are there. The folder is bounded in bytes: when a new cover does not fit, the
// covers used longest ago go first (use is the files' modification time, so the order survives a
// restart). Thread-safe; file reads and writes happen outside the lock.
class ArtworkCache {
  public:
    struct Settings {
        std::filesystem::path folder = {};
        std::uint64_t byteLimit = 96ull * 1024 * 1024;
        // A cover found missing is not looked for again for this long: a cover file added later
        // shows up within a day, and nothing is asked again every second meanwhile.
        std::chrono::seconds absentFor = std::chrono::hours(24);
        const Clock *clock = &Clock::system();
    };

    enum class State { unknown, present, absent };

    // Reads the folder (made when missing), drops leftovers of interrupted writes and what is over
    // the bound. A folder that cannot be made leaves a cache that keeps nothing.
    explicit ArtworkCache(Settings settings);

    const std::filesystem::path &folder() const noexcept { return settings_.folder; }
    State state(std::uint64_t key) const;
    // Bytes of every entry.
    std::uint64_t size() const;

    // Keeps one cover, all its sizes; older covers go until it fits. False when it could not be
    // written (its files are then gone too).
    bool store(std::uint64_t key, const std::vector<ScaledArtwork> &pictures);
    // Remembers that a cover was looked for and not found.
    void markAbsent(std::uint64_t key);
    // The entry, counted as a use; nothing when it is not there. A cover whose entry is gone from
    // the folder or is not a picture is forgotten, files and all, so that it is read again.
    std::optional<ArtworkEntry> read(const ArtworkName &name);

  private:
    struct Cover {
        std::uint64_t bytes = 0;
        int sizes = 0; // how many of the sizes are on disk
        std::filesystem::file_time_type lastUse = std::filesystem::file_time_type::min();
    };

    void scan();
    void loadAbsent();
    void appendAbsent(std::uint64_t key, std::chrono::system_clock::time_point when);
    void rewriteAbsent();
    // Lock held. Removes the covers used longest ago, never `keep`, until the bound holds.
    void evict(std::optional<std::uint64_t> keep);
    void removeFiles(std::uint64_t key);
    std::filesystem::path pathOf(const ArtworkName &name) const;

    Settings settings_;
    mutable std::mutex lock_;
    bool usable_ = false;
    std::unordered_map<std::uint64_t, Cover> covers_;
    std::uint64_t bytes_ = 0;
    std::unordered_map<std::uint64_t, std::chrono::system_clock::time_point> absent_;
    std::size_t absentLines_ = 0;
};

} // namespace wheelbox
