#include "window/WheelHitTest.hpp"

namespace wheelbox {

bool isInsideWheel(Point point, Size bounds) noexcept
{
    constexpr double bodyWidthFraction = 0.8297872340425532;
    constexpr double bodyHeightFraction = 0.8363428571428572;
    constexpr double wheelCentreX = 0.5;
    constexpr double wheelCentreY = 0.6964334517627767;
    constexpr double wheelRadiusX = 0.37948717948717947;
    constexpr double wheelRadiusY = 0.22981937439439487;

    double bodyWidth = bounds.width * bodyWidthFraction;
    double bodyHeight = bounds.height * bodyHeightFraction;
    double bodyX = (bounds.width - bodyWidth) / 2;
    double bodyY = (bounds.height - bodyHeight) / 2;
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
