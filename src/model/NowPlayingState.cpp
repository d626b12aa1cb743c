#include "model/NowPlayingState.hpp"

namespace wheelbox {

NowPlayingState NowPlayingState::empty()
{
    NowPlayingState state;
    state.source = "none";
    state.title = "Not Playing";
    return state;
}

} // namespace wheelbox
