#include "worker/RequestParameters.hpp"

#include <cmath>
#include <limits>

namespace wheelbox::requestParameters {

std::optional<std::string_view> string(const boost::json::object &params, std::string_view key)
{
    const auto *value = params.if_contains(key);
    if (!value || !value->is_string())
        return std::nullopt;
    return std::string_view(value->get_string());
}

std::optional<double> number(const boost::json::object &params, std::string_view key)
{
    const auto *value = params.if_contains(key);
    if (!value)
        return std::nullopt;
    switch (value->kind()) {
    case boost::json::kind::int64:
        return static_cast<double>(value->get_int64());
    case boost::json::kind::uint64:
        return static_cast<double>(value->get_uint64());
    case boost::json::kind::double_:
        return value->get_double();
    default:
        return std::nullopt;
    }
}

std::optional<std::int64_t> integer(const boost::json::object &params, std::string_view key)
{
    const auto *value = params.if_contains(key);
    if (!value)
        return std::nullopt;
    switch (value->kind()) {
    case boost::json::kind::int64:
        return value->get_int64();
    case boost::json::kind::uint64: {
        // The parser keeps every integer up to 2^63 - 1 as int64; a uint64 is larger still.
        std::uint64_t whole = value->get_uint64();
        if (whole > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return static_cast<std::int64_t>(whole);
    }
    case boost::json::kind::double_: {
        double number = value->get_double();
        // -2^63 and 2^63 are exact doubles; every whole double in between fits int64. -0.0 is 0.
        constexpr double limit = 9223372036854775808.0;
        if (!std::isfinite(number) || number != std::trunc(number) || number < -limit || number >= limit)
            return std::nullopt;
        return static_cast<std::int64_t>(number);
    }
    default:
        return std::nullopt;
    }
}

} // namespace wheelbox::requestParameters
