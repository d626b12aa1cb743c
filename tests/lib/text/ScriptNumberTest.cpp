#include "lib/text/ScriptNumber.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>

namespace wheelbox {
namespace {

TEST(ScriptNumber, NumbersAreShortestDecimalsWithAFractionalPart)
{
    struct Case {
        double value;
        const char *text;
    };
    const Case cases[] = {
        {42, "42.0"},
        {0.49, "0.49"},
        {-3, "-3.0"},
        {0, "0.0"},
        {-0.0, "-0.0"},
        {0.1 + 0.2, "0.30000000000000004"},
        {1e21, "1000000000000000000000.0"},
        {1.5e-7, "0.00000015"},
        {123.456, "123.456"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(formatScriptNumber(c.value), c.text) << c.value;
}

TEST(ScriptNumber, NumbersReadBackAsTheSameDouble)
{
    std::mt19937_64 random(7);
    for (int i = 0; i < 20000; ++i) {
        double value = std::bit_cast<double>(random());
        if (!std::isfinite(value))
            continue;
        std::string text = formatScriptNumber(value);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(std::strtod(text.c_str(), nullptr)),
                  std::bit_cast<std::uint64_t>(value))
            << text;
        ASSERT_NE(text.find('.'), std::string::npos) << text;
        ASSERT_EQ(text.find_first_of("eE"), std::string::npos) << text;
    }
    for (double extreme : {std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(),
                           std::numeric_limits<double>::lowest()})
        EXPECT_EQ(std::strtod(formatScriptNumber(extreme).c_str(), nullptr), extreme);
}

TEST(ScriptNumber, NumbersThatNoLiteralCanSpellAreRefused)
{
    for (double value : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                         std::numeric_limits<double>::quiet_NaN()})
        EXPECT_THROW(formatScriptNumber(value), std::domain_error) << value;
}

} // namespace
} // namespace wheelbox
