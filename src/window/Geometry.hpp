#pragma once

#include <algorithm>

// Points, sizes and rectangles in screen points with y growing upwards: the origin of a rectangle
// is its bottom-left corner. The platform adapters convert from and to their own coordinates.
namespace wheelbox {

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point &, const Point &) = default;
};

struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size &, const Size &) = default;
};

struct Rect {
    Point origin;
    Size size;

    double minX() const noexcept { return origin.x; }
    double minY() const noexcept { return origin.y; }
    double maxX() const noexcept { return origin.x + size.width; }
    double maxY() const noexcept { return origin.y + size.height; }
    double midX() const noexcept { return origin.x + size.width / 2; }
    double midY() const noexcept { return origin.y + size.height / 2; }

    // The area both rectangles cover; 0 when they only touch or do not meet.
    double intersectionArea(const Rect &other) const noexcept
    {
        double width = std::min(maxX(), other.maxX()) - std::max(minX(), other.minX());
        double height = std::min(maxY(), other.maxY()) - std::max(minY(), other.minY());
        return width > 0 && height > 0 ? width * height : 0;
    }

    friend bool operator==(const Rect &, const Rect &) = default;
};

} // namespace wheelbox
