#include "window/ScreenFitting.hpp"

#include <algorithm>
#include <cmath>

namespace wheelbox {

DeviceSize fittedSize(DeviceSize size, const Rect &visibleFrame) noexcept
{
    auto first = std::find(allDeviceSizes.begin(), allDeviceSizes.end(), size);
    for (auto candidate = first; candidate != allDeviceSizes.end(); ++candidate) {
        Size window = windowSize(*candidate);
        if (window.width <= visibleFrame.size.width && window.height <= visibleFrame.size.height)
            return *candidate;
    }
    return DeviceSize::tiny;
}

std::optional<Rect> bestVisibleFrame(const Rect &frame, std::span<const Rect> visibleFrames,
                                     const std::optional<Rect> &mainVisibleFrame) noexcept
{
    const Rect *best = nullptr;
    double bestArea = 0;
    for (const Rect &visible : visibleFrames) {
        double area = frame.intersectionArea(visible);
        if (area > bestArea) {
            best = &visible;
            bestArea = area;
        }
    }
    if (best)
        return *best;
    return mainVisibleFrame;
}

std::optional<Rect> bestVisibleFrame(const Rect &frame, const Screens &screens)
{
    std::vector<Rect> visibleFrames;
    for (const Screen &screen : screens.screens())
        visibleFrames.push_back(screen.visibleFrame);
    std::optional<Rect> main;
    if (auto screen = screens.mainScreen())
        main = screen->visibleFrame;
    return bestVisibleFrame(frame, visibleFrames, main);
}

Rect clampedFrame(const Rect &frame, const Rect &visible) noexcept
{
    double x = std::min(std::max(frame.minX(), visible.minX()),
                        std::max(visible.minX(), visible.maxX() - frame.size.width));
    double y = std::min(std::max(frame.minY(), visible.minY()),
                        std::max(visible.minY(), visible.maxY() - frame.size.height));
    return {{x, y}, frame.size};
}

std::optional<Screen> screenOfFrame(const Rect &frame, std::span<const Screen> screens) noexcept
{
    const Screen *best = nullptr;
    double bestArea = 0;
    for (const Screen &screen : screens) {
        double area = frame.intersectionArea(screen.frame);
        if (area > bestArea) {
            best = &screen;
            bestArea = area;
        }
    }
    if (best)
        return *best;
    return std::nullopt;
}

Rect centredFrame(const Rect &frame, Size size) noexcept
{
    return centredFrame(Point{frame.midX(), frame.midY()}, size);
}

Rect centredFrame(Point centre, Size size) noexcept
{
    return {{std::round(centre.x - size.width / 2), std::round(centre.y - size.height / 2)}, size};
}

} // namespace wheelbox
