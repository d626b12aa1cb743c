#include "FakeMusic.hpp"

#include "ValueOperations.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace wheelbox::osascript::fuzz {
namespace {

[[noreturn]] void cannotGet(const std::string &what)
{
    throw ApplicationError("Can’t get " + what + ".", errorNumber::cannotGet);
}

class FakeObject : public ObjectReference {
  public:
    FakeObject(FakeMusic &music, std::string kind, std::string key)
        : music_(music), kind_(std::move(kind)), key_(std::move(key))
    {}

    Application &application() const noexcept override { return music_; }
    std::string describe() const override { return kind_ + " " + describeValue(Value(key_)); }
    bool sameObject(const ObjectReference &other) const override
    {
        auto fake = dynamic_cast<const FakeObject *>(&other);
        return fake && fake->kind_ == kind_ && fake->key_ == key_;
    }
    const std::string &kind() const noexcept { return kind_; }
    const std::string &key() const noexcept { return key_; }

  private:
    FakeMusic &music_;
    std::string kind_;
    std::string key_;
};

const FakeObject *fakeObject(const ObjectReference *object)
{
    return dynamic_cast<const FakeObject *>(object);
}

} // namespace

FakeMusic::FakeMusic()
{
    tracks_ = {
        {"00000000000000A1", "Intro", "Alpha", "First", 61.5},
        {"00000000000000A2", "Échelle", "Céline", "Second", 200},
        {"00000000000000A3", "🎵 \"Quoted\" \\ Song", "", "", 0.25},
        {"00000000000000A4", "Long", "Alpha", "First", 3600},
    };
    for (std::size_t i = 0; i < tracks_.size(); ++i)
        library_.push_back(i);
    playlists_.push_back({"00000000000000C1", "Road Trip", {0, 1, 0}});
}

Value FakeMusic::trackValue(std::size_t index)
{
    return Value(std::static_pointer_cast<ObjectReference>(
        std::make_shared<FakeObject>(*this, "track", tracks_[index].persistentID)));
}

Value FakeMusic::playlistValue(std::optional<std::size_t> userIndex)
{
    if (!userIndex)
        return Value(std::static_pointer_cast<ObjectReference>(
            std::make_shared<FakeObject>(*this, "library playlist", "1")));
    return Value(std::static_pointer_cast<ObjectReference>(
        std::make_shared<FakeObject>(*this, "user playlist", playlists_[*userIndex].persistentID)));
}

FakeMusic::Playlist *FakeMusic::userPlaylist(const ObjectReference &object)
{
    auto fake = fakeObject(&object);
    if (!fake || fake->kind() != "user playlist")
        return nullptr;
    for (auto &playlist : playlists_) {
        if (playlist.persistentID == fake->key())
            return &playlist;
    }
    return nullptr;
}

const std::vector<std::size_t> &FakeMusic::tracksOf(const ObjectReference *object)
{
    if (!object)
        return library_;
    auto fake = fakeObject(object);
    if (fake && fake->kind() == "library playlist")
        return library_;
    if (auto playlist = userPlaylist(*object))
        return playlist->tracks;
    cannotGet("tracks of " + object->describe());
}

Value FakeMusic::getProperty(const ObjectReference *object, Property property)
{
    if (object) {
        auto fake = fakeObject(object);
        if (fake && fake->kind() == "track") {
            auto track = std::find_if(tracks_.begin(), tracks_.end(), [&](const Track &candidate) {
                return candidate.persistentID == fake->key();
            });
            switch (property) {
            case Property::PersistentID:
                return Value(track->persistentID);
            case Property::Name:
                return Value(track->name);
            case Property::Artist:
                return Value(track->artist);
            case Property::Album:
                return Value(track->album);
            case Property::Duration:
                return Value(track->duration);
            default:
                break;
            }
        } else if (auto playlist = userPlaylist(*object)) {
            if (property == Property::Name)
                return Value(playlist->name);
            if (property == Property::PersistentID)
                return Value(playlist->persistentID);
        }
        cannotGet(std::string(propertyName(property)) + " of " + object->describe());
    }
    switch (property) {
    case Property::CurrentTrack:
        if (!current_)
            cannotGet("current track");
        return trackValue(*current_);
    case Property::PlayerState:
        return Value(Constant{state_});
    case Property::PlayerPosition:
        return Value(position_);
    case Property::SoundVolume:
        return Value(volume_);
    case Property::ShuffleEnabled:
        return Value(shuffle_);
    case Property::SongRepeat:
        return Value(Constant{repeat_});
    default:
        cannotGet(std::string(propertyName(property)));
    }
}

void FakeMusic::setProperty(const ObjectReference *object, Property property, const Value &value)
{
    if (object) {
        auto playlist = userPlaylist(*object);
        if (!playlist || property != Property::Name)
            throw ApplicationError("Can’t set " + std::string(propertyName(property)) + ".", -10006);
        playlist->name = toText(value, "");
        return;
    }
    switch (property) {
    case Property::PlayerPosition:
        position_ = std::max(0.0, checkedReal(toReal(value), value));
        return;
    case Property::SoundVolume:
        volume_ = std::clamp<std::int64_t>(checkedInteger(toReal(value), value), 0, 100);
        return;
    case Property::ShuffleEnabled:
        shuffle_ = toBoolean(value);
        return;
    case Property::SongRepeat: {
        auto constant = value.getIf<Constant>();
        if (!constant || (constant->name != "off" && constant->name != "one" && constant->name != "all"))
            throw ApplicationError("Can’t set song repeat to " + describeValue(value) + ".", -10006);
        repeat_ = constant->name;
        return;
    }
    default:
        throw ApplicationError("Can’t set " + std::string(propertyName(property)) + ".", -10006);
    }
}

Value FakeMusic::runCommand(Command command, const std::optional<Value> &directParameter)
{
    auto step = [&](int by) {
        if (!current_)
            return;
        auto count = static_cast<std::int64_t>(tracks_.size());
        current_ =
            static_cast<std::size_t>(((static_cast<std::int64_t>(*current_) + by) % count + count) % count);
        position_ = 0;
    };
    switch (command) {
    case Command::Play:
        if (directParameter) {
            auto object = directParameter->getIf<ObjectPtr>();
            const auto *fake = object ? fakeObject(object->get()) : nullptr;
            if (!fake)
                throw ApplicationError("Can’t play " + describeValue(*directParameter) + ".",
                                       errorNumber::handlerFailed);
            if (fake->kind() == "track") {
                for (std::size_t i = 0; i < tracks_.size(); ++i) {
                    if (tracks_[i].persistentID == fake->key())
                        current_ = i;
                }
            } else {
                const auto &held = tracksOf(object->get());
                if (held.empty())
                    throw ApplicationError("Can’t play " + fake->describe() + ".",
                                           errorNumber::handlerFailed);
                current_ = held.front();
            }
            position_ = 0;
        } else if (!current_) {
            current_ = 0;
        }
        state_ = "playing";
        break;
    case Command::PlayPause:
        state_ = state_ == "playing" ? "paused" : "playing";
        current_ = current_.value_or(0);
        break;
    case Command::Pause:
        if (state_ == "playing")
            state_ = "paused";
        break;
    case Command::Resume:
        if (state_ == "paused")
            state_ = "playing";
        break;
    case Command::Stop:
        state_ = "stopped";
        position_ = 0;
        break;
    case Command::NextTrack:
        step(1);
        break;
    case Command::PreviousTrack:
        step(-1);
        break;
    case Command::FastForward:
    case Command::Rewind:
        if (current_)
            position_ = command == Command::Rewind ? 0 : tracks_[*current_].duration;
        break;
    }
    return Value();
}

Value FakeMusic::element(const ObjectReference *container, ElementClass elementClass, const Value &key)
{
    std::string description = std::string(elementClassName(elementClass)) + " " + describeValue(key);
    switch (elementClass) {
    case ElementClass::LibraryPlaylist:
        if (container || toInteger(key) != 1)
            cannotGet(description);
        return playlistValue(std::nullopt);
    case ElementClass::UserPlaylist:
        if (container)
            cannotGet(description);
        if (key.is<std::string>()) {
            for (std::size_t i = 0; i < playlists_.size(); ++i) {
                if (valuesEqual(Value(playlists_[i].name), key))
                    return playlistValue(i);
            }
            cannotGet(description);
        }
        if (auto at = toInteger(key); at >= 1 && static_cast<std::uint64_t>(at) <= playlists_.size())
            return playlistValue(static_cast<std::size_t>(at - 1));
        cannotGet(description);
    case ElementClass::Track: {
        const auto &held = tracksOf(container);
        auto at = toInteger(key);
        if (at < 1 || static_cast<std::uint64_t>(at) > held.size())
            cannotGet(description);
        return trackValue(held[static_cast<std::size_t>(at - 1)]);
    }
    }
    cannotGet(description);
}

Value FakeMusic::everyElement(const ObjectReference *container, ElementClass elementClass,
                              const std::optional<ElementFilter> &filter)
{
    List found;
    if (elementClass == ElementClass::Track) {
        for (auto index : tracksOf(container)) {
            Value track = trackValue(index);
            if (filter) {
                bool equal =
                    valuesEqual(getProperty(track.as<ObjectPtr>().get(), filter->property), filter->value);
                if (equal == filter->negated)
                    continue;
            }
            found.push_back(std::move(track));
        }
    } else if (elementClass == ElementClass::UserPlaylist && !container) {
        for (std::size_t i = 0; i < playlists_.size(); ++i) {
            Value playlist = playlistValue(i);
            if (filter) {
                bool equal =
                    valuesEqual(getProperty(playlist.as<ObjectPtr>().get(), filter->property), filter->value);
                if (equal == filter->negated)
                    continue;
            }
            found.push_back(std::move(playlist));
        }
    } else if (elementClass == ElementClass::LibraryPlaylist && !container) {
        found.push_back(playlistValue(std::nullopt));
    }
    return Value::list(std::move(found));
}

bool FakeMusic::exists(const ObjectReference &object)
{
    auto fake = fakeObject(&object);
    if (!fake)
        return false;
    if (fake->kind() == "user playlist")
        return userPlaylist(object) != nullptr;
    return true;
}

Value FakeMusic::make(ElementClass elementClass, const Record &properties)
{
    if (elementClass != ElementClass::UserPlaylist)
        throw ApplicationError("Can’t make class " + std::string(elementClassName(elementClass)) + ".",
                               errorNumber::handlerFailed);
    std::string name = "untitled playlist";
    for (const auto &[label, value] : properties) {
        if (label == "name")
            name = toText(value, "");
    }
    if (name.empty() || name.find('/') != std::string::npos)
        throw ApplicationError("Can’t make user playlist " + describeValue(Value(name)) + ".",
                               errorNumber::handlerFailed);
    char id[17];
    std::snprintf(id, sizeof id, "%016X", 0xD000 + nextPlaylist_++);
    playlists_.push_back({id, name, {}});
    return playlistValue(playlists_.size() - 1);
}

Value FakeMusic::duplicate(const ObjectReference &object, const ObjectReference &to)
{
    auto fake = fakeObject(&object);
    auto playlist = userPlaylist(to);
    if (!fake || fake->kind() != "track" || !playlist)
        throw ApplicationError("Can’t duplicate " + object.describe() + " to " + to.describe() + ".",
                               errorNumber::handlerFailed);
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
        if (tracks_[i].persistentID == fake->key()) {
            playlist->tracks.push_back(i);
            return trackValue(i);
        }
    }
    cannotGet(object.describe());
}

void FakeMusic::remove(const ObjectReference &object)
{
    auto playlist = userPlaylist(object);
    if (!playlist)
        throw ApplicationError("Can’t delete " + object.describe() + ".", errorNumber::handlerFailed);
    playlists_.erase(playlists_.begin() + (playlist - playlists_.data()));
}

FakeMprisPlayer::FakeMprisPlayer()
{
    tracks_ = {{"/com/spotify/track/4uLU6hMCjMI75M1A2tKUQC", true,
                "https://open.spotify.com/track/4uLU6hMCjMI75M1A2tKUQC", "Song", "Artist", "Album",
                200'000'000},
               {"spotify:track:1", false, "", "Ünïcode 🎵", "", "", 0}};
    state_.playbackStatus = "Playing";
    state_.loopStatus = "None";
    state_.volume = 0.5;
    state_.shuffle = false;
    state_.positionMicroseconds = 0;
    state_.track = tracks_[current_];
}

MprisPlayerState FakeMprisPlayer::read(std::chrono::milliseconds)
{
    return state_;
}

void FakeMprisPlayer::call(const char *method, std::chrono::milliseconds)
{
    std::string_view name(method);
    if (name == "PlayPause")
        state_.playbackStatus = state_.playbackStatus == "Playing" ? "Paused" : "Playing";
    else if (name == "Pause")
        state_.playbackStatus = "Paused";
    else if (name == "Play")
        state_.playbackStatus = "Playing";
    else if (name == "Next" || name == "Previous") {
        current_ = (current_ + 1) % tracks_.size();
        state_.track = tracks_[current_];
        state_.positionMicroseconds = 0;
    }
}

void FakeMprisPlayer::setPosition(const std::string &trackPath, std::int64_t microseconds,
                                  std::chrono::milliseconds)
{
    if (state_.track && trackPath == state_.track->trackID && microseconds >= 0)
        state_.positionMicroseconds = microseconds;
}

void FakeMprisPlayer::seek(std::int64_t offsetMicroseconds, std::chrono::milliseconds)
{
    // MPRIS players clamp a seek to the track.
    double target =
        static_cast<double>(state_.positionMicroseconds) + static_cast<double>(offsetMicroseconds);
    double length = state_.track ? static_cast<double>(state_.track->lengthMicroseconds) : 0;
    state_.positionMicroseconds = static_cast<std::int64_t>(std::clamp(target, 0.0, length));
}

void FakeMprisPlayer::setVolume(double volume, std::chrono::milliseconds)
{
    state_.volume = volume;
}

void FakeMprisPlayer::setShuffle(bool shuffle, std::chrono::milliseconds)
{
    state_.shuffle = shuffle;
}

void FakeMprisPlayer::setLoopStatus(const char *status, std::chrono::milliseconds)
{
    state_.loopStatus = status;
}

} // namespace wheelbox::osascript::fuzz
