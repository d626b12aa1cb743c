#include "bridge/RequestPolicy.hpp"

#include <algorithm>
#include <array>

namespace wheelbox {
namespace {

template <std::size_t N> bool contains(const std::array<std::string_view, N> &set, std::string_view method)
{
    return std::find(set.begin(), set.end(), method) != set.end();
}

constexpr std::array<std::string_view, 3> playbackStarting{"select", "playCollection", "setPlaybackSetting"};
constexpr std::array<std::string_view, 6> playbackAffectingOnly{"playPause", "pause",     "skip",
                                                                "seek",      "beginSeek", "setTransport"};

constexpr std::array<std::string_view, 2> longestWait{"playCollection", "setPlaybackSetting"};
// A search reads the library as a list does.
constexpr std::array<std::string_view, 4> libraryWait{"getList", "refreshLibrary", "getAbout", "search"};
constexpr std::array<std::string_view, 10> commandWait{"ready",   "select",   "setTransport", "playPause",
                                                       "pause",   "skip",     "seek",         "beginSeek",
                                                       "endSeek", "setVolume"};

constexpr std::array<std::string_view, 3> local{"setAlwaysOnTop", "setFirmwareAwake", "quit"};

} // namespace

PlaybackRole playbackRole(std::string_view method) noexcept
{
    if (contains(playbackStarting, method))
        return PlaybackRole::starting;
    if (contains(playbackAffectingOnly, method))
        return PlaybackRole::affecting;
    return PlaybackRole::none;
}

std::chrono::seconds requestTimeLimit(std::string_view method) noexcept
{
    if (contains(longestWait, method))
        return std::chrono::seconds(65);
    if (contains(libraryWait, method))
        return std::chrono::seconds(35);
    if (contains(commandWait, method))
        return std::chrono::seconds(25);
    return std::chrono::seconds(18);
}

bool isLocalMethod(std::string_view method) noexcept
{
    return contains(local, method);
}

} // namespace wheelbox
