#include "transport/SpotifyScripts.hpp"

#include "lib/text/ScriptNumber.hpp"
#include "transport/ScriptReply.hpp"
#include "transport/ScriptText.hpp"

namespace wheelbox::spotifyScripts {
namespace {

std::string toldTo(std::string_view command)
{
    return "tell application \"Spotify\" to " + std::string(command);
}

} // namespace

std::string nowPlaying()
{
    return "tell application \"Spotify\"\n"
           "  set t to current track\n"
           "  if player state is playing then\n"
           "    set stateText to \"playing\"\n"
           "  else\n"
           "    set stateText to \"paused\"\n"
           "  end if\n"
           "  set unitSeparator to ASCII character 31\n"
           "  return (spotify url of t as text) & unitSeparator & ¬\n"
           "    (name of t as text) & unitSeparator & ¬\n"
           "    (artist of t as text) & unitSeparator & ¬\n"
           "    (album of t as text) & unitSeparator & ¬\n"
           "    (player position as text) & unitSeparator & ¬\n"
           "    ((duration of t / 1000) as text) & unitSeparator & stateText\n"
           "end tell";
}

std::string playPause()
{
    return toldTo("playpause");
}

std::string pause()
{
    return toldTo("pause");
}

std::string play()
{
    return toldTo("play");
}

std::string skip(int direction)
{
    return toldTo(direction < 0 ? "previous track" : "next track");
}

std::string setPosition(double seconds)
{
    return toldTo("set player position to " + formatScriptNumber(seconds));
}

std::string setVolume(double volume)
{
    return toldTo("set sound volume to " + formatScriptNumber(volume));
}

std::string setShuffling(bool enabled)
{
    return toldTo(enabled ? "set shuffling to true" : "set shuffling to false");
}

std::string setRepeating(bool enabled)
{
    return toldTo(enabled ? "set repeating to true" : "set repeating to false");
}

std::string repeatOff()
{
    return toldTo("set repeating to false");
}

std::string volume()
{
    return toldTo("return sound volume as text");
}

std::string scan(std::string_view startingURI, int direction)
{
    return "tell application \"Spotify\"\n"
           "  set startingURI to \"" +
           escapeAppleScriptString(startingURI) +
           "\"\n"
           "  repeat with scanTick from 1 to 450\n"
           "    if player state is stopped then exit repeat\n"
           "    set t to current track\n"
           "    if (spotify url of t as text) is not startingURI then exit repeat\n"
           "    set scanStep to 1.25\n"
           "    if scanTick > 10 then set scanStep to 2.5\n"
           "    if scanTick > 25 then set scanStep to 5\n"
           "    set targetPosition to (player position) + (scanStep * " +
           (direction < 0 ? "-1" : "1") +
           ")\n"
           "    if targetPosition < 0 then set targetPosition to 0\n"
           "    set trackLimit to ((duration of t) / 1000) - 0.25\n"
           "    if trackLimit < 0 then set trackLimit to 0\n"
           "    if targetPosition > trackLimit then set targetPosition to trackLimit\n"
           "    set player position to targetPosition\n"
           "    if targetPosition is 0 or targetPosition is trackLimit then exit repeat\n"
           "    delay 0.2\n"
           "  end repeat\n"
           "end tell";
}

std::optional<NowPlayingState> parseNowPlaying(std::string_view reply)
{
    auto fields = scriptReply::split(reply, '\x1f');
    if (fields.size() < 7)
        return std::nullopt;
    NowPlayingState state;
    state.source = "system";
    state.persistentID = std::string(fields[0]);
    state.title = fields[1];
    state.artist = fields[2];
    if (!fields[3].empty())
        state.album = std::string(fields[3]);
    state.elapsed = scriptReply::decimal(fields[4]).value_or(0);
    state.duration = scriptReply::decimal(fields[5]).value_or(0);
    state.isPlaying = fields[6] == "playing";
    return state;
}

} // namespace wheelbox::spotifyScripts
