// JSON read with every number the double nearest to its text, and otherwise as Boost.JSON reads it.
#include "lib/json/ExactJSON.hpp"

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

namespace wheelbox::test {
namespace {

namespace json = boost::json;

json::value parsed(std::string_view text)
{
    json::error_code error;
    auto value = parseExactJSON(text, error);
    EXPECT_FALSE(error) << text << ": " << error.message();
    return value;
}

double parsedDouble(std::string_view text)
{
    auto value = parsed(text);
    EXPECT_TRUE(value.is_double()) << text << " is " << json::serialize(value);
    return value.is_double() ? value.get_double() : std::numeric_limits<double>::quiet_NaN();
}

TEST(ExactJSON, NumbersReadAsTheNearestDouble)
{
    constexpr double infinity = std::numeric_limits<double>::infinity();
    struct Case {
        std::string_view text;
        double expected;
    };
    const Case cases[] = {
        // Boost.JSON 1.81 reads the first a unit in the last place low, and the second, which is
        // how that low value is written, a unit high: a stored setting drifted on every rewrite.
        {"18446744073705e-162", 0x1.e311336377fc1p-495},
        {"1.8446744073704998e-149", 0x1.e311336377fcp-495},
        {"0.49", 0.49},
        {"-0.0", -0.0},
        {"4.9e-324", std::numeric_limits<double>::denorm_min()},
        {"1.7976931348623157e308", std::numeric_limits<double>::max()},
        {"18446744073709551616", 0x1p64},
        {"1E5", 1e5},
        {"1e400", infinity},
        {"-1e400", -infinity},
        {"1.8e308", infinity},
        {"1e-400", 0.0},
        {"-1e-400", -0.0},
        // Boost.JSON makes NaN of these, as zero times infinity.
        {"0e400", 0.0},
        {"-0e999", -0.0},
    };
    for (const auto &[text, expected] : cases) {
        double got = parsedDouble(text);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(expected))
            << text << " read as " << got;
    }
}

TEST(ExactJSON, EveryDoubleInItsShortestFormReadsBackAsItself)
{
    std::mt19937_64 random(20261210);
    for (int i = 0; i < 200000; ++i) {
        double value = std::bit_cast<double>(random());
        if (!std::isfinite(value))
            continue;
        char text[32];
        auto end = std::to_chars(text, text + sizeof text, value).ptr;
        // A whole number in range reads as an integer.
        std::string number =
            std::string(text, end) +
            (std::string_view(text, end).find_first_of(".e") == std::string_view::npos ? ".0" : "");
        ASSERT_EQ(std::bit_cast<std::uint64_t>(parsedDouble(number)), std::bit_cast<std::uint64_t>(value))
            << number;
    }
}

TEST(ExactJSON, EverythingButDoublesReadsAsBoostReadsIt)
{
    const std::string_view documents[] = {
        R"({"a": [1, -2, 9223372036854775807, 18446744073709551615, -9223372036854775808], "b": null})",
        R"({"key": "v", "key": "w", "t": true, "f": false, "e": {}, "l": []})",
        R"(["\u00e9\ud83c\udfb5 \"quoted\"\n\t\\", "line\u2028break", "nul\u0000inside"])",
        R"([[[[[[[[[[{"deep": [0]}]]]]]]]]]])",
        R"(  "a lone string"  )",
        "-0",
    };
    for (auto text : documents)
        EXPECT_EQ(parsed(text), json::parse(text)) << text;

    std::string longText = "[\"" + std::string(100000, 'x') + "\", {\"" + std::string(70000, 'k') + "\": 1}]";
    EXPECT_EQ(parsed(longText), json::parse(longText));
}

TEST(ExactJSON, BadTextIsAnError)
{
    json::parse_options shallow;
    shallow.max_depth = 4;
    struct Case {
        std::string_view text;
        json::parse_options options;
    };
    const Case cases[] = {
        {"", {}},
        {"{} x", {}},
        {"{\"a\": 1", {}},
        {"[1,]", {}},
        {"NaN", {}},
        {"Infinity", {}},
        {"01", {}},
        {"+1", {}},
        {"1.", {}},
        {std::string_view("\"a\0b\"", 5), {}},
        {"\"line\nbreak\"", {}},
        {"\"\xff\"", {}},
        {"[[[[[1]]]]]", shallow},
    };
    for (const auto &[text, options] : cases) {
        json::error_code error;
        auto value = parseExactJSON(text, error, options);
        EXPECT_TRUE(error) << text << " read as " << json::serialize(value);
        EXPECT_TRUE(value.is_null());
    }

    json::error_code error;
    parseExactJSON(std::string(100000, '['), error);
    EXPECT_EQ(error, json::error::too_deep);
}

} // namespace
} // namespace wheelbox::test
