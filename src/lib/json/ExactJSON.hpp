#pragma once

#include <boost/json/parse_options.hpp>
#include <boost/json/value.hpp>

#include <string_view>

namespace wheelbox {

// Parses JSON text as boost::json::parse does, except that every number that is not a whole number
// in range of a 64-bit integer is the double nearest to its text. Boost.JSON before 1.83 may read
// one a unit in the last place away, so a number written in its shortest form and read back drifts
// on every rewrite. A number past the range of a double is an infinity of its sign, one too small
// for it a zero of its sign (never NaN, which Boost.JSON makes of "0e400").
boost::json::value parseExactJSON(std::string_view text, boost::json::error_code &error,
                                  const boost::json::parse_options &options = {});

} // namespace wheelbox
