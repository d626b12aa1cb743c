#include "window/SavedFrame.hpp"

#include <array>
#include <charconv>
#include <cmath>

namespace wheelbox::savedFrame {
namespace {

constexpr double farthest = 1e6;

std::string number(double value)
{
    std::array<char, 64> buffer{};
    auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return error == std::errc() ? std::string(buffer.data(), end) : std::string("0");
}

} // namespace

std::string format(const Rect &frame)
{
    return number(frame.origin.x) + " " + number(frame.origin.y) + " " + number(frame.size.width) + " " +
           number(frame.size.height);
}

std::optional<Rect> parse(std::string_view text)
{
    std::array<double, 4> values{};
    const char *position = text.data();
    const char *end = text.data() + text.size();
    for (std::size_t index = 0; index < values.size(); ++index) {
        if (index > 0) {
            if (position == end || *position != ' ')
                return std::nullopt;
            ++position;
        }
        auto [next, error] = std::from_chars(position, end, values[index]);
        if (error != std::errc() || !std::isfinite(values[index]) || std::abs(values[index]) > farthest)
            return std::nullopt;
        position = next;
    }
    if (position != end || values[2] <= 0 || values[3] <= 0)
        return std::nullopt;
    return Rect{{values[0], values[1]}, {values[2], values[3]}};
}

} // namespace wheelbox::savedFrame
