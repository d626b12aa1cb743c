#include "window/WheelHitTest.hpp"

namespace wheelbox {

namespace {

constexpr double bodyWidthFraction = 0.8297872340425532;
constexpr double bodyHeightFraction = 0.8363428571428572;
constexpr double bodyCornerFraction = 46.0 / 470.0;

} // namespace

BodyOutline bodyOutline(Size bounds) noexcept
{
    double width = bounds.width * bodyWidthFraction;
    double height = bounds.height * bodyHeightFraction;
    return {{{(bounds.width - width) / 2, (bounds.height - height) / 2}, {width, height}},
            bounds.width * bodyCornerFraction};
}

bool isInsideWheel(Point point, Size bounds) noexcept
{
    constexpr double wheelCentreX = 0.5;
    constexpr double wheelCentreY = 0.6964334517627767;
    constexpr double wheelRadiusX = 0.37948717948717947;
    constexpr double wheelRadiusY = 0.22981937439439487;

    auto body = bodyOutline(bounds).frame;
    double bodyWidth = body.size.width;
    double bodyHeight = body.size.height;
    double bodyX = body.origin.x;
    double bodyY = body.origin.y;
    if (!(bodyWidth > 0 && bodyHeight > 0))
        return false;
    if (point.x < bodyX || point.x >= bodyX + bodyWidth || point.y < bodyY || point.y >= bodyY + bodyHeight)
        return false;
    double u = (point.x - bodyX) / bodyWidth;
    double v = (point.y - bodyY) / bodyHeight;
    double du = (u - wheelCentreX) / wheelRadiusX;
    double dv = (v - wheelCentreY) / wheelRadiusY;
    return du * du + dv * dv <= 1;
}

} // namespace wheelbox
