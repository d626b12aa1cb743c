#include "transport/MusicAppScripts.hpp"

#include "lib/text/ScriptNumber.hpp"
#include "transport/ScriptText.hpp"

#include <algorithm>

namespace wheelbox::musicScripts {
namespace {

std::string quoted(std::string_view text)
{
    return '"' + escapeAppleScriptString(text) + '"';
}

std::string told(std::string_view body)
{
    return "tell application \"Music\"\n" + std::string(body) + "end tell";
}

// Waits up to 50 × 0.2 s for the app to play `quotedID`; the indent is that of the surrounding block.
std::string startWait(std::string_view indent, const std::string &quotedID)
{
    std::string i(indent);
    return i + "set didStart to false\n" + //
           i + "repeat 50 times\n" +       //
           i + "  try\n" +                 //
           i + "    if player state is playing and (persistent ID of current track as text) is " + quotedID +
           " then\n" +                          //
           i + "      set didStart to true\n" + //
           i + "      exit repeat\n" +          //
           i + "    end if\n" +                 //
           i + "  end try\n" +                  //
           i + "  delay 0.2\n" +                //
           i + "end repeat\n" +                 //
           i +
           "if didStart is false then error \"Music can't play this song. Open Music and check Account "
           "sign-in.\"\n";
}

// Deletes every user playlist whose `property` is `value`; `role` names the script's variables
// ("oldMatches", "oldQueue").
std::string deleteUserPlaylists(std::string_view role, std::string_view property, std::string_view value)
{
    std::string matches = std::string(role) + "Matches";
    std::string each = std::string(role) + "Queue";
    return told("  set " + matches + " to (every user playlist whose " + std::string(property) + " is " +
                quoted(value) + ")\n" + "  repeat with " + each + " in " + matches + "\n" + "    delete " +
                each + "\n" + "  end repeat\n");
}

} // namespace

std::string nowPlaying()
{
    return told("  set t to current track\n"
                "  if player state is playing then\n"
                "    set stateText to \"playing\"\n"
                "  else if player state is stopped then\n"
                "    set stateText to \"stopped\"\n"
                "  else\n"
                "    set stateText to \"paused\"\n"
                "  end if\n"
                "  set unitSeparator to ASCII character 31\n"
                "  return (persistent ID of t as text) & unitSeparator & ¬\n"
                "    (name of t as text) & unitSeparator & ¬\n"
                "    (artist of t as text) & unitSeparator & ¬\n"
                "    (album of t as text) & unitSeparator & ¬\n"
                "    (player position as text) & unitSeparator & ¬\n"
                "    (duration of t as text) & unitSeparator & stateText\n");
}

std::string playPause()
{
    return told("  playpause\n");
}

std::string pause()
{
    return "tell application \"Music\" to pause";
}

std::string skip(int direction)
{
    return told(direction < 0 ? "  previous track\n" : "  next track\n");
}

std::string seek(double position)
{
    return told("  set player position to " + formatScriptNumber(position) + "\n");
}

std::string beginSeek(int direction)
{
    return told(std::string("  set wasPlaying to player state is playing\n") +
                (direction < 0 ? "  rewind\n" : "  fast forward\n") + "  return wasPlaying as text\n");
}

std::string endSeek(WasPlaying wasPlaying)
{
    return told(wasPlaying == WasPlaying::yes ? "  resume\n" : "  resume\n  pause\n");
}

std::string volume()
{
    return "tell application \"Music\" to return sound volume as text";
}

std::string setVolume(double volume)
{
    return told("  set sound volume to " + formatScriptNumber(std::clamp(volume, 0.0, 100.0)) + "\n");
}

std::string setShuffle(bool enabled)
{
    return std::string("tell application \"Music\" to set shuffle enabled to ") +
           (enabled ? "true" : "false");
}

std::string setRepeat(std::string_view mode)
{
    return "tell application \"Music\" to set song repeat to " + std::string(repeatWord(mode));
}

std::string_view repeatWord(std::string_view mode)
{
    if (mode == "One")
        return "one";
    if (mode == "All")
        return "all";
    return "off";
}

std::string settingsBlock(const PlaybackSettings &settings)
{
    return "set sound volume to " + formatScriptNumber(std::clamp(settings.volume, 0.0, 100.0)) +
           "\nset shuffle enabled to false\nset song repeat to " +
           std::string(repeatWord(settings.repeatMode));
}

std::string playTrack(std::string_view trackID, const std::optional<PlaybackSettings> &settings,
                      PauseAfterStart pauseAfterStart)
{
    auto id = quoted(trackID);
    return told("  set matches to (every track of library playlist 1 whose persistent ID is " + id + ")\n" +
                "  if (count of matches) is 0 then error \"Song is not in the Music library.\"\n" + //
                "  " + (settings ? settingsBlock(*settings) : std::string()) + "\n" +               //
                "  play item 1 of matches\n" +                                                      //
                startWait("  ", id) +                                                               //
                "  " + (pauseAfterStart == PauseAfterStart::yes ? "pause" : "") + "\n");
}

std::string isPlayingTrack(std::string_view trackID)
{
    return told("  if player state is not playing then return \"false\"\n"
                "  return ((persistent ID of current track as text) is " +
                quoted(trackID) + ") as text\n");
}

std::string startQueue(std::string_view name, std::string_view startID,
                       const std::vector<std::string> &trackIDs, const PlaybackSettings &settings,
                       const std::optional<RestoredPlayback> &restore)
{
    auto quotedName = quoted(name);
    auto quotedStartID = quoted(startID);
    std::string trackList;
    for (const auto &id : trackIDs) {
        if (!trackList.empty())
            trackList += ", ";
        trackList += quoted(id);
    }
    std::string restoreLines;
    if (restore) {
        restoreLines = "\n            try\n              set player position to " +
                       formatScriptNumber(std::max(restore->elapsed, 0.0)) + "\n            end try";
        if (!restore->isPlaying)
            restoreLines += "\n            try\n              pause\n            end try";
    }
    return told("  if exists user playlist " + quotedName + " then\n" +
                "    error \"Music already has the temporary Wheelbox queue.\"\n"
                "  end if\n"
                "  set q to make new user playlist with properties {name:" +
                quotedName + "}\n" +
                "  try\n"
                "    set queueIDs to {" +
                trackList + "}\n" +
                "    set addedIDs to {}\n"
                "    set sourceIndex to 0\n"
                "    set startAddedIndex to 0\n"
                "    repeat with trackID in queueIDs\n"
                "      set sourceIndex to sourceIndex + 1\n"
                "      set matches to (every track of library playlist 1 whose persistent ID is trackID)\n"
                "      if (count of matches) > 0 then\n"
                "        try\n"
                "          duplicate item 1 of matches to q\n"
                "          set end of addedIDs to trackID as text\n"
                "          if sourceIndex is 1 then\n"
                "            set startAddedIndex to count of addedIDs\n"
                "          end if\n"
                "        end try\n"
                "      end if\n"
                "    end repeat\n"
                "    set newQueueID to persistent ID of q as text\n"
                "    set oldDelimiters to AppleScript's text item delimiters\n"
                "    set AppleScript's text item delimiters to ASCII character 31\n"
                "    set addedText to addedIDs as text\n"
                "    set AppleScript's text item delimiters to oldDelimiters\n"
                "    " +
                settingsBlock(settings) + "\n" +
                "    set playbackMode to \"queue\"\n"
                "    if startAddedIndex > 0 then\n"
                "      play q\n"
                "    else\n"
                "      -- Some cloud-backed songs can stream from the library but cannot\n"
                "      -- be duplicated into a user playlist. Play that exact persistent\n"
                "      -- ID directly rather than failing or falling through by index.\n"
                "      set libraryStarts to (every track of library playlist 1 whose persistent ID is " +
                quotedStartID + ")\n" +
                "      if (count of libraryStarts) is 0 then error \"Song is not in the Music library.\"\n"
                "      play item 1 of libraryStarts\n"
                "      set playbackMode to \"direct\"\n"
                "    end if\n" +
                startWait("    ", quotedStartID) + "    " + restoreLines + "\n" +
                "    return newQueueID & (ASCII character 30) & " + quotedName +
                " & (ASCII character 30) & playbackMode & (ASCII character 30) & (startAddedIndex as text) & "
                "(ASCII character 30) & addedText\n"
                "  on error errorMessage number errorNumber\n"
                "    try\n"
                "      delete q\n"
                "    end try\n"
                "    error errorMessage number errorNumber\n"
                "  end try\n");
}

std::string deletePlaylistsNamed(std::string_view name)
{
    return deleteUserPlaylists("old", "name", name);
}

std::string deletePendingPlaylistsNamed(std::string_view name)
{
    return deleteUserPlaylists("pending", "name", name);
}

std::string deletePlaylistsWithID(std::string_view persistentID)
{
    return deleteUserPlaylists("old", "persistent ID", persistentID);
}

} // namespace wheelbox::musicScripts
