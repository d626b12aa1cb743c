#pragma once

#include <boost/json/object.hpp>

#include <cstdint>
#include <string>
#include <string_view>

// The device's about screen: its serial number, storage, software version and the computer it
// belongs to.
namespace wheelbox {

class HostFacts;
class RandomSource;
class UserDefaults;

inline constexpr std::string_view deviceSerialKey = "veltoDeviceSerial";

// A stored serial is kept when it is 11 characters, each an upper-case letter or a digit.
bool isValidDeviceSerial(std::string_view serial) noexcept;

// "VT" and 9 characters drawn uniformly from the letters and digits that cannot be misread
// (no I, O, 0 or 1).
std::string makeDeviceSerial(RandomSource &random);

// The stored serial when valid; otherwise a new one, which is stored.
std::string deviceSerial(UserDefaults &defaults, RandomSource &random);

// A byte count in decimal units, written as GLib's g_format_size writes it in the C locale:
// "1 byte", "999 bytes", "1.0 kB", "500.1 GB", "18.4 EB", with a no-break space (U+00A0) before
// each unit but "byte".
std::string formatByteCount(std::uint64_t bytes);

// The program's version as the about screen shows it; "0.1.0" when the build gave none.
std::string_view aboutVersion(std::string_view buildVersion) noexcept;

// The record: "relatedMac", "capacity", "available", "version" and "serial", all strings. A
// figure the host cannot tell reads "—"; a computer without a name is "This Mac".
boost::json::object aboutRecord(HostFacts &host, UserDefaults &defaults, RandomSource &random,
                                std::string_view buildVersion);

} // namespace wheelbox
