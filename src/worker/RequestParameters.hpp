#pragma once

#include <boost/json/object.hpp>

#include <cstdint>
#include <optional>
#include <string_view>

// Reading a firmware request's parameters by exact key. A value of another JSON type reads as
// absent, so the caller's default or error applies:
// - a string is only a string: a number is never one;
// - a number is any JSON number, whole or not, taken as a double;
// - an integer is a whole number that fits 64 bits: 3 and 3.0 are integers, 2.5 is not, and
//   neither is 1e300 or 2^63 (too large to be an index or a direction).
namespace wheelbox::requestParameters {

// The view refers into `params`.
std::optional<std::string_view> string(const boost::json::object &params, std::string_view key);
std::optional<double> number(const boost::json::object &params, std::string_view key);
std::optional<std::int64_t> integer(const boost::json::object &params, std::string_view key);

} // namespace wheelbox::requestParameters
