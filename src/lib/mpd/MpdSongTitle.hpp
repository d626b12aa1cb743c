#pragma once

#include <string>
#include <string_view>

namespace wheelbox::mpd {

// The title of a song that has none to show (no Title tag, or one too long for a reply line): its
// file name without the extension, as a file manager shows it. One rule for the library's lists
// and the script stand-in's tracks, so a song is called the same in both.
//
// The file name is the URI's last part; a stream's URI ("http://host/live.mp3?id=1") drops its
// query and fragment first, and one without a path is called by its host. The extension is what
// follows the last dot, kept when nothing but dots comes before it (".hidden", "..."), when it is
// empty ("song.") or holds a space ("Mr. Brightside"). Control characters become spaces, as MPD
// shows them in tags.
std::string songFileTitle(std::string_view uri);

} // namespace wheelbox::mpd
