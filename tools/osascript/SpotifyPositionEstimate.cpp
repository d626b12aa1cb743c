#include "SpotifyPositionEstimate.hpp"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <time.h>
#include <unistd.h>

namespace wheelbox::osascript {

SpotifyPositionEstimate::SpotifyPositionEstimate(std::optional<std::filesystem::path> file, Clock clock)
    : file_(std::move(file)), clock_(std::move(clock))
{}

SpotifyPositionEstimate SpotifyPositionEstimate::standard()
{
    std::optional<std::filesystem::path> file;
    if (const char *runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        file = std::filesystem::path(runtime) / "wheelbox" / "spotify-position";
    return SpotifyPositionEstimate(std::move(file), [] {
        timespec now{};
        clock_gettime(CLOCK_BOOTTIME, &now);
        return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    });
}

double SpotifyPositionEstimate::read(const std::string &track, bool playing, double reported, double length)
{
    if (reported > 0)
        return reported;
    auto anchor = load();
    if (!anchor || anchor->track != track) {
        // First sight of this track: it starts here.
        save({track, 0, clock_(), playing});
        return 0;
    }
    auto now = clock_();
    double position = anchor->position;
    if (anchor->playing)
        position += static_cast<double>(now - anchor->seenAt) / 1e9;
    position = std::max(position, 0.0);
    if (length > 0)
        position = std::min(position, length);
    if (anchor->playing != playing)
        save({track, position, now, playing});
    return position;
}

void SpotifyPositionEstimate::moved(const std::string &track, double position, bool playing)
{
    save({track, std::max(position, 0.0), clock_(), playing});
}

std::optional<SpotifyPositionEstimate::Anchor> SpotifyPositionEstimate::load() const
{
    if (!file_)
        return std::nullopt;
    std::ifstream input(*file_);
    Anchor anchor;
    std::string position, seenAt, playing;
    if (!std::getline(input, anchor.track) || !std::getline(input, position) ||
        !std::getline(input, seenAt) || !std::getline(input, playing))
        return std::nullopt;
    try {
        anchor.position = std::stod(position);
        anchor.seenAt = std::stoll(seenAt);
    } catch (const std::exception &) {
        return std::nullopt;
    }
    anchor.playing = playing == "playing";
    return anchor;
}

void SpotifyPositionEstimate::save(const Anchor &anchor) const
{
    if (!file_)
        return;
    std::error_code error;
    std::filesystem::create_directories(file_->parent_path(), error);
    std::filesystem::permissions(file_->parent_path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, error);
    std::string track = anchor.track;
    std::replace(track.begin(), track.end(), '\n', ' ');
    std::ostringstream text;
    text.precision(17);
    text << track << '\n'
         << anchor.position << '\n'
         << anchor.seenAt << '\n'
         << (anchor.playing ? "playing" : "paused") << '\n';
    // Written aside and renamed, so a concurrent run never reads half a file.
    auto temporary = *file_;
    temporary += ".";
    temporary += std::to_string(getpid());
    {
        std::ofstream output(temporary, std::ios::trunc);
        output << text.str();
        if (!output)
            return;
    }
    std::filesystem::rename(temporary, *file_, error);
    if (error)
        std::filesystem::remove(temporary, error);
}

} // namespace wheelbox::osascript
