#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace wheelbox {

// One release an appcast announces: the RSS feed of a program's updates, each <item> naming its
// version in sparkle:version / sparkle:shortVersionString, as an element or as attributes of its
// <enclosure>.
struct AppcastRelease {
    std::string version;
    // The version people read ("2.1"), when it differs from the build version.
    std::optional<std::string> shortVersion;
    std::optional<std::string> title;
    // The release notes' or the download's address.
    std::optional<std::string> link;

    // shortVersion, else version.
    const std::string &displayVersion() const noexcept { return shortVersion ? *shortVersion : version; }
};

class AppcastError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The releases of an appcast, in feed order; items without a version are left out. Throws
// AppcastError for text that is not well-formed XML or holds no RSS channel.
std::vector<AppcastRelease> parseAppcast(std::string_view xml);

// The release with the highest version; nothing for none.
std::optional<AppcastRelease> newestRelease(const std::vector<AppcastRelease> &releases);

// Orders versions as update feeds do: dots separate, runs of digits compare as numbers ("1.10" >
// "1.9"), other runs as text, a number outranks text in the same place ("1.0.1" > "1.0b1") and a
// version with more parts is the newer ("1.0.1" > "1.0") unless they start with text ("2.0" >
// "2.0b1"). Negative, zero or positive.
int compareVersions(std::string_view left, std::string_view right);

} // namespace wheelbox
