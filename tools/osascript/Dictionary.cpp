#include "Dictionary.hpp"

#include "ValueOperations.hpp"

#include <array>

namespace wheelbox::osascript {
namespace {

using Kind = Dictionary::TermKind;

constexpr Dictionary::Term property(std::string_view words, Property p)
{
    return {words, Kind::Property, static_cast<int>(p)};
}
constexpr Dictionary::Term command(std::string_view words, Command c)
{
    return {words, Kind::Command, static_cast<int>(c)};
}
constexpr Dictionary::Term elementClass(std::string_view words, ElementClass c)
{
    return {words, Kind::ElementClass, static_cast<int>(c)};
}
constexpr Dictionary::Term constant(std::string_view words)
{
    return {words, Kind::Constant, 0};
}

constexpr std::array musicTerms{
    property("current track", Property::CurrentTrack),
    property("player state", Property::PlayerState),
    property("player position", Property::PlayerPosition),
    property("sound volume", Property::SoundVolume),
    property("shuffle enabled", Property::ShuffleEnabled),
    property("song repeat", Property::SongRepeat),
    property("persistent id", Property::PersistentID),
    property("name", Property::Name),
    property("artist", Property::Artist),
    property("album", Property::Album),
    property("duration", Property::Duration),
    elementClass("track", ElementClass::Track),
    elementClass("library playlist", ElementClass::LibraryPlaylist),
    elementClass("user playlist", ElementClass::UserPlaylist),
    command("playpause", Command::PlayPause),
    command("pause", Command::Pause),
    command("resume", Command::Resume),
    command("play", Command::Play),
    command("stop", Command::Stop),
    command("next track", Command::NextTrack),
    command("previous track", Command::PreviousTrack),
    command("back track", Command::PreviousTrack),
    command("fast forward", Command::FastForward),
    command("rewind", Command::Rewind),
    constant("playing"),
    constant("paused"),
    constant("stopped"),
    constant("off"),
    constant("one"),
    constant("all"),
};

constexpr std::array spotifyTerms{
    property("current track", Property::CurrentTrack),
    property("player state", Property::PlayerState),
    property("player position", Property::PlayerPosition),
    property("sound volume", Property::SoundVolume),
    property("shuffling", Property::Shuffling),
    property("repeating", Property::Repeating),
    property("spotify url", Property::SpotifyURL),
    property("name", Property::Name),
    property("artist", Property::Artist),
    property("album", Property::Album),
    property("duration", Property::Duration),
    command("playpause", Command::PlayPause),
    command("pause", Command::Pause),
    command("play", Command::Play),
    command("next track", Command::NextTrack),
    command("previous track", Command::PreviousTrack),
    constant("playing"),
    constant("paused"),
    constant("stopped"),
};

constexpr Dictionary music{"Music", musicTerms, true};
constexpr Dictionary spotify{"Spotify", spotifyTerms, false};

} // namespace

const Dictionary *findDictionary(std::string_view applicationName)
{
    auto folded = foldCase(applicationName);
    if (folded == "music")
        return &music;
    if (folded == "spotify")
        return &spotify;
    return nullptr;
}

} // namespace wheelbox::osascript
