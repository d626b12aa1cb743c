#include "Application.hpp"

#include <string>

namespace wheelbox::osascript {

void notUnderstood(std::string_view what)
{
    throw ApplicationError(std::string(what) + " doesn’t understand this message.",
                           errorNumber::notUnderstood);
}

Value Application::element(const ObjectReference *, ElementClass, const Value &)
{
    notUnderstood("The element");
}

Value Application::everyElement(const ObjectReference *, ElementClass, const std::optional<ElementFilter> &)
{
    notUnderstood("The element");
}

bool Application::exists(const ObjectReference &object)
{
    notUnderstood(object.describe());
}

Value Application::make(ElementClass, const Record &)
{
    notUnderstood("The make command");
}

Value Application::duplicate(const ObjectReference &object, const ObjectReference &)
{
    notUnderstood(object.describe());
}

void Application::remove(const ObjectReference &object)
{
    notUnderstood(object.describe());
}

} // namespace wheelbox::osascript

namespace wheelbox::osascript {

std::string_view propertyName(Property property) noexcept
{
    switch (property) {
    case Property::CurrentTrack:
        return "current track";
    case Property::PlayerState:
        return "player state";
    case Property::PlayerPosition:
        return "player position";
    case Property::SoundVolume:
        return "sound volume";
    case Property::ShuffleEnabled:
        return "shuffle enabled";
    case Property::SongRepeat:
        return "song repeat";
    case Property::Shuffling:
        return "shuffling";
    case Property::Repeating:
        return "repeating";
    case Property::PersistentID:
        return "persistent ID";
    case Property::Name:
        return "name";
    case Property::Artist:
        return "artist";
    case Property::Album:
        return "album";
    case Property::Duration:
        return "duration";
    case Property::SpotifyURL:
        return "spotify url";
    }
    return "property";
}

std::string_view elementClassName(ElementClass elementClass) noexcept
{
    switch (elementClass) {
    case ElementClass::Track:
        return "track";
    case ElementClass::LibraryPlaylist:
        return "library playlist";
    case ElementClass::UserPlaylist:
        return "user playlist";
    }
    return "element";
}

} // namespace wheelbox::osascript
