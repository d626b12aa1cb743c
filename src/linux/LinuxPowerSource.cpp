#include "linux/LinuxPowerSource.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace wheelbox {
namespace {

// One attribute file, without its trailing line break. Attributes are a few bytes; reading stops
// well before anything larger. Nothing when the file is missing or unreadable (a battery that was
// just removed answers ENODEV).
std::optional<std::string> attribute(const std::filesystem::path &supply, const char *name)
{
    std::ifstream file(supply / name, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::string text(256, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad())
        return std::nullopt;
    text.resize(static_cast<std::size_t>(file.gcount()));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

std::optional<std::int64_t> integerAttribute(const std::filesystem::path &supply, const char *name)
{
    auto text = attribute(supply, name);
    if (!text || text->empty())
        return std::nullopt;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size())
        return std::nullopt;
    return value;
}

struct Capacity {
    std::int64_t current = 0;
    std::int64_t maximum = 0;
};

std::optional<Capacity> capacity(const std::filesystem::path &supply, const char *currentName,
                                 const char *maximumName)
{
    auto current = integerAttribute(supply, currentName);
    auto maximum = integerAttribute(supply, maximumName);
    if (!current || !maximum || *maximum <= 0)
        return std::nullopt;
    return Capacity{*current, *maximum};
}

// Energy, else charge; else the percentage many laptops' drivers give alone.
std::optional<Capacity> batteryCapacity(const std::filesystem::path &supply)
{
    if (auto reading = capacity(supply, "energy_now", "energy_full"))
        return reading;
    if (auto reading = capacity(supply, "charge_now", "charge_full"))
        return reading;
    if (auto percent = integerAttribute(supply, "capacity"))
        return Capacity{*percent, 100};
    return std::nullopt;
}

} // namespace

LinuxPowerSource::LinuxPowerSource(std::filesystem::path root) : root_(std::move(root)) {}

std::optional<BatteryReading> LinuxPowerSource::battery() const
{
    std::error_code error;
    std::vector<std::filesystem::path> supplies;
    for (std::filesystem::directory_iterator entry(root_, error), end; !error && entry != end;
         entry.increment(error))
        supplies.push_back(entry->path());
    // Directory order is arbitrary; name order makes "the first battery" the same on every call.
    std::sort(supplies.begin(), supplies.end());

    for (const auto &supply : supplies) {
        if (attribute(supply, "type") != "Battery" || attribute(supply, "scope") == "Device")
            continue;
        auto reading = batteryCapacity(supply);
        if (!reading)
            continue;
        double level = static_cast<double>(reading->current) / static_cast<double>(reading->maximum);
        return BatteryReading{std::clamp(level, 0.0, 1.0), attribute(supply, "status") == "Charging"};
    }
    return std::nullopt;
}

} // namespace wheelbox
