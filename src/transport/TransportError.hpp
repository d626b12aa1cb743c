#pragma once

#include <exception>
#include <string>

namespace wheelbox {

// A playback command that a transport cannot carry out. what() is the text the device shows.
class TransportError : public std::exception {
  public:
    enum class Kind { invalidItem, unavailableItem, playerUnavailable, unsupportedSetting };

    // The transport cannot interpret this item identifier, or a queue it was given is inconsistent.
    static TransportError invalidItem(std::string item) { return {Kind::invalidItem, std::move(item)}; }
    // The player refused to start this track; the identifier is kept but never shown.
    static TransportError unavailableItem(std::string persistentID)
    {
        return {Kind::unavailableItem, std::move(persistentID)};
    }
    // The player ("Music", "Spotify") does not run.
    static TransportError playerUnavailable(std::string playerName)
    {
        return {Kind::playerUnavailable, std::move(playerName)};
    }
    // A setting the player cannot take; the message is shown as it is.
    static TransportError unsupportedSetting(std::string message)
    {
        return {Kind::unsupportedSetting, std::move(message)};
    }

    Kind kind() const noexcept { return kind_; }
    const std::string &payload() const noexcept { return payload_; }
    const std::string &description() const noexcept { return description_; }
    const char *what() const noexcept override { return description_.c_str(); }

    bool operator==(const TransportError &other) const noexcept
    {
        return kind_ == other.kind_ && payload_ == other.payload_;
    }

  private:
    TransportError(Kind kind, std::string payload)
        : kind_(kind), payload_(std::move(payload)), description_(describe(kind_, payload_))
    {}

    static std::string describe(Kind kind, const std::string &payload)
    {
        switch (kind) {
        case Kind::invalidItem:
            return "This transport cannot play " + payload + ".";
        case Kind::unavailableItem:
            return "Music can’t play this song right now.";
        case Kind::playerUnavailable:
            return payload + " is not running.";
        case Kind::unsupportedSetting:
            break;
        }
        return payload;
    }

    Kind kind_;
    std::string payload_;
    std::string description_;
};

} // namespace wheelbox
