#include "worker/AboutRecord.hpp"

#include "platform/HostFacts.hpp"
#include "platform/RandomSource.hpp"
#include "platform/UserDefaults.hpp"

#include <array>
#include <charconv>
#include <optional>

namespace wheelbox {
namespace {

constexpr std::string_view serialAlphabet = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
constexpr std::size_t serialLength = 11;
constexpr std::string_view unreadable = "—";

std::string byteCountOrDash(const std::optional<std::uint64_t> &bytes)
{
    return bytes ? formatByteCount(*bytes) : std::string(unreadable);
}

} // namespace

bool isValidDeviceSerial(std::string_view serial) noexcept
{
    if (serial.size() != serialLength)
        return false;
    for (char c : serial) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

std::string makeDeviceSerial(RandomSource &random)
{
    std::string serial = "VT";
    while (serial.size() < serialLength)
        serial += serialAlphabet[static_cast<std::size_t>(random.below(serialAlphabet.size()))];
    return serial;
}

std::string deviceSerial(UserDefaults &defaults, RandomSource &random)
{
    if (auto stored = defaults.string(deviceSerialKey); stored && isValidDeviceSerial(*stored))
        return *stored;
    auto serial = makeDeviceSerial(random);
    defaults.setString(deviceSerialKey, serial);
    return serial;
}

std::string formatByteCount(std::uint64_t bytes)
{
    if (bytes < 1000)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    struct Unit {
        std::uint64_t factor;
        const char *name;
    };
    static constexpr std::array<Unit, 6> units{{{1'000ULL, "\u00A0kB"},
                                                {1'000'000ULL, "\u00A0MB"},
                                                {1'000'000'000ULL, "\u00A0GB"},
                                                {1'000'000'000'000ULL, "\u00A0TB"},
                                                {1'000'000'000'000'000ULL, "\u00A0PB"},
                                                {1'000'000'000'000'000'000ULL, "\u00A0EB"}}};
    // The first unit the count is less than a thousand of (exabytes take everything above).
    std::size_t unit = 0;
    while (unit + 1 < units.size() && bytes >= units[unit + 1].factor)
        ++unit;
    // Divided as doubles and rounded to one decimal as printf("%.1f") rounds, so 999,950 bytes is
    // "1000.0 kB" here as it is in GLib; a no-break space keeps the unit by its number.
    double value = static_cast<double>(bytes) / static_cast<double>(units[unit].factor);
    std::array<char, 32> text{};
    auto [end, error] =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, 1);
    (void)error; // 32 characters hold any value below 18,447 with one decimal.
    return std::string(text.data(), end) + units[unit].name;
}

std::string_view aboutVersion(std::string_view buildVersion) noexcept
{
    return buildVersion.empty() ? "0.1.0" : buildVersion;
}

boost::json::object aboutRecord(HostFacts &host, UserDefaults &defaults, RandomSource &random,
                                std::string_view buildVersion)
{
    auto name = host.computerName();
    auto space = host.homeVolumeSpace();
    boost::json::object record;
    record["relatedMac"] = name && !name->empty() ? *name : "This Mac";
    record["capacity"] = byteCountOrDash(space.capacity);
    record["available"] = byteCountOrDash(space.available);
    record["version"] = aboutVersion(buildVersion);
    record["serial"] = deviceSerial(defaults, random);
    return record;
}

} // namespace wheelbox
