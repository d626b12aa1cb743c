#include "window/DeviceSize.hpp"

#include <cmath>

namespace wheelbox {
namespace {

double evenPixels(double points) noexcept
{
    double below = std::floor(points);
    if (below == points)
        return points;
    return std::fmod(below, 2) == 0 ? below : below + 1;
}

} // namespace

std::string_view rawValue(DeviceSize size) noexcept
{
    switch (size) {
    case DeviceSize::large:
        return "large";
    case DeviceSize::medium:
        return "medium";
    case DeviceSize::small:
        return "small";
    case DeviceSize::tiny:
        return "tiny";
    }
    return "large";
}

std::optional<DeviceSize> deviceSizeFromRawValue(std::string_view raw) noexcept
{
    for (DeviceSize size : allDeviceSizes) {
        if (rawValue(size) == raw)
            return size;
    }
    return std::nullopt;
}

Size designSize(DeviceSize size) noexcept
{
    switch (size) {
    case DeviceSize::large:
        return {470, 770};
    case DeviceSize::medium:
        return {352.5, 577.5};
    case DeviceSize::small:
        return {235, 385};
    case DeviceSize::tiny:
        return {164.5, 269.5};
    }
    return {470, 770};
}

Size windowSize(DeviceSize size) noexcept
{
    Size design = designSize(size);
    return {evenPixels(design.width), evenPixels(design.height)};
}

} // namespace wheelbox
