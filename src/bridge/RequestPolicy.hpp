#pragma once

#include <chrono>
#include <string_view>

namespace wheelbox {

// How a request relates to playback: whether it overtakes a pending playback start, and whether
// it is one itself (and so can be overtaken).
enum class PlaybackRole { none, affecting, starting };

PlaybackRole playbackRole(std::string_view method) noexcept;

// How long a request may wait on the media queue before it is failed as expired instead of run.
std::chrono::seconds requestTimeLimit(std::string_view method) noexcept;

// Methods the bridge answers itself on the main thread, without the media queue.
bool isLocalMethod(std::string_view method) noexcept;

} // namespace wheelbox
