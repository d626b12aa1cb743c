#pragma once

#include "window/Geometry.hpp"

namespace wheelbox {

// Whether a point of the web view lies on the click wheel. `point` counts y from the top of the
// view; `bounds` is the view's size. The body is the centred rectangle of 0.8297872340425532 ×
// 0.8363428571428572 of the view (minimum edges inside, maximum edges outside); the wheel is the
// ellipse in it centred at (0.5, 0.6964334517627767) of the body, with radii 0.37948717948717947 and
// 0.22981937439439487 of its width and height. The firmware draws the same shapes.
bool isInsideWheel(Point point, Size bounds) noexcept;

// The body as the firmware draws it in a view of size `bounds`: that centred rectangle (y from the
// top), its corners rounded with a radius of 46 / 470 of the view's width.
struct BodyOutline {
    Rect frame;
    double cornerRadius = 0;
};
BodyOutline bodyOutline(Size bounds) noexcept;

} // namespace wheelbox
