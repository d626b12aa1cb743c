// How a parameter's JSON value reads as a string, a number and an integer.
#include "worker/RequestParameters.hpp"

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace wheelbox::test {
namespace {

namespace parameters = requestParameters;

TEST(RequestParameters, EachValueReadsOnlyAsItsOwnKind)
{
    struct Case {
        const char *json; // the value of "v"
        std::optional<std::string_view> string;
        std::optional<double> number;
        std::optional<std::int64_t> integer;
    };
    constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();
    constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();
    const Case cases[] = {
        {R"("On")", "On", std::nullopt, std::nullopt},
        {R"("")", "", std::nullopt, std::nullopt},
        {R"("3")", "3", std::nullopt, std::nullopt},
        {"3", std::nullopt, 3.0, 3},
        {"-7", std::nullopt, -7.0, -7},
        {"3.0", std::nullopt, 3.0, 3},
        {"2.5", std::nullopt, 2.5, std::nullopt},
        {"-0.0", std::nullopt, -0.0, 0},
        {"1E2", std::nullopt, 100.0, 100},
        {"1e300", std::nullopt, 1e300, std::nullopt},
        {"9223372036854775807", std::nullopt, 9223372036854775807.0, int64Max},
        {"9223372036854775808", std::nullopt, 9223372036854775808.0, std::nullopt},
        {"18446744073709551615", std::nullopt, 18446744073709551615.0, std::nullopt},
        {"-9223372036854775808", std::nullopt, -9223372036854775808.0, int64Min},
        {"true", std::nullopt, std::nullopt, std::nullopt},
        {"null", std::nullopt, std::nullopt, std::nullopt},
        {"[1]", std::nullopt, std::nullopt, std::nullopt},
        {R"({"v": 1})", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.json);
        auto params = boost::json::parse(std::string(R"({"v": )") + c.json + "}").as_object();
        EXPECT_EQ(parameters::string(params, "v"), c.string);
        EXPECT_EQ(parameters::number(params, "v"), c.number);
        EXPECT_EQ(parameters::integer(params, "v"), c.integer);
        EXPECT_EQ(parameters::string(params, "V"), std::nullopt) << "keys are exact";
        EXPECT_EQ(parameters::number(params, "w"), std::nullopt);
    }
}

TEST(RequestParameters, NonFiniteNumbersAreNumbersButNeverIntegers)
{
    // The parser reads 1e400 as infinity; a NaN can only be made in the program.
    auto params = boost::json::parse(R"({"up": 1e400, "down": -1e400})").as_object();
    params["nan"] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(parameters::number(params, "up"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parameters::number(params, "down"), -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(parameters::number(params, "nan").value()));
    for (const char *key : {"up", "down", "nan"})
        EXPECT_EQ(parameters::integer(params, key), std::nullopt) << key;
}

TEST(RequestParameters, KeysAndStringsMayHoldAnyText)
{
    const std::string hostile("line\nbreak \"quote\" \\ \0 nul", 26);
    boost::json::object params;
    params[hostile] = hostile;
    EXPECT_EQ(parameters::string(params, hostile), hostile);
    EXPECT_EQ(parameters::string(params, "line\nbreak"), std::nullopt) << "a key cut at a NUL is another key";
}

} // namespace
} // namespace wheelbox::test
