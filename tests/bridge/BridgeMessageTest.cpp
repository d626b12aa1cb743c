#include "bridge/BridgeMessage.hpp"
#include "BridgeTestSupport.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace wheelbox::test {
namespace {

enum class Fate { answered, dropped, tapped };

struct MessageCase {
    const char *name;
    std::string body;
    MessageOrigin origin;
    Fate fate;
};

std::string repeated(std::string_view piece, std::size_t times)
{
    std::string text;
    for (std::size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

// Appended piece by piece: GCC 12 at -O3 takes "text" + std::string&& for an overlapping copy
// (-Wrestrict), a known false positive.
std::string jsonString(std::string_view text)
{
    std::string quoted = "\"";
    quoted += text;
    quoted += '"';
    return quoted;
}

std::string body(std::string_view method, std::string_view idJSON, std::string_view extra = "")
{
    return std::string(R"({"method":")") + std::string(method) + R"(","version":1,"id":)" +
           std::string(idJSON) + std::string(extra) + "}";
}

const MessageOrigin firmware{"velto", "app"};

std::vector<MessageCase> messageCases()
{
    return {
        {"plain", body("getAbout", R"("a")"), firmware, Fate::answered},
        {"paramsNotAnObject", body("getAbout", R"("a")", R"(,"params":[1,2])"), firmware, Fate::answered},
        {"paramsNull", body("getAbout", R"("a")", R"(,"params":null)"), firmware, Fate::answered},
        {"methodOf64Bytes", body(repeated("m", 64), R"("a")"), firmware, Fate::answered},
        {"methodOf65Bytes", body(repeated("m", 65), R"("a")"), firmware, Fate::dropped},
        // 22 euro signs are 22 characters but 66 bytes: the limit is on bytes.
        {"methodOf66BytesIn22Characters", body(repeated("€", 22), R"("a")"), firmware, Fate::dropped},
        {"methodNotAString", R"({"method":7,"version":1,"id":"a"})", firmware, Fate::dropped},
        {"methodMissing", R"({"version":1,"id":"a"})", firmware, Fate::dropped},
        {"version2", R"({"method":"getAbout","version":2,"id":"a"})", firmware, Fate::dropped},
        {"versionAsString", R"({"method":"getAbout","version":"1","id":"a"})", firmware, Fate::dropped},
        {"versionWithFraction", R"({"method":"getAbout","version":1.5,"id":"a"})", firmware, Fate::dropped},
        {"versionMissing", R"({"method":"getAbout","id":"a"})", firmware, Fate::dropped},
        {"idEmpty", body("getAbout", R"("")"), firmware, Fate::dropped},
        {"idOf128Bytes", body("getAbout", jsonString(repeated("i", 128))), firmware, Fate::answered},
        {"idOf129Bytes", body("getAbout", jsonString(repeated("i", 129))), firmware, Fate::dropped},
        {"idANumber", body("getAbout", "5"), firmware, Fate::dropped},
        {"idMissing", R"({"method":"getAbout","version":1})", firmware, Fate::dropped},
        {"localMethodWithoutId", R"({"method":"setAlwaysOnTop","version":1})", firmware, Fate::dropped},
        {"hapticWithoutId", R"({"method":"haptic","version":1})", firmware, Fate::tapped},
        {"hapticWithABadId", R"({"method":"haptic","version":1,"id":""})", firmware, Fate::tapped},
        {"hapticVersion2", R"({"method":"haptic","version":2})", firmware, Fate::dropped},
        {"foreignOrigin", body("getAbout", R"("a")"), {"https", "example.com"}, Fate::dropped},
        {"foreignHost", body("getAbout", R"("a")"), {"velto", "evil"}, Fate::dropped},
        {"notAnObject", R"(["getAbout",1,"a"])", firmware, Fate::dropped},
        {"notJSON", R"({"method":"getAbout","version":1,"id":"a")", firmware, Fate::dropped},
        {"trailingText", body("getAbout", R"("a")") + "x", firmware, Fate::dropped},
        {"empty", "", firmware, Fate::dropped},
        {"invalidUTF8", body("getAbout", "\"\xC3(\""), firmware, Fate::dropped},
        {"rawNulInAString", body("getAbout", std::string("\"a\0b\"", 5)), firmware, Fate::dropped},
        {"rawLineBreakInAString", body("getAbout", "\"a\nb\""), firmware, Fate::dropped},
        {"escapedNulAndLineBreak", body("getAbout", R"("a\u0000\nb")"), firmware, Fate::answered},
        {"atTheSizeLimit",
         body("getAbout", R"("a")", R"(,"pad":")" + repeated("x", maximumBodyBytes - 51) + "\""), firmware,
         Fate::answered},
        {"overTheSizeLimit",
         body("getAbout", R"("a")", R"(,"pad":")" + repeated("x", maximumBodyBytes - 50) + "\""), firmware,
         Fate::dropped},
        {"tooDeep",
         body("getAbout", R"("a")", R"(,"params":{"x":)" + repeated("[", 20) + repeated("]", 20) + "}"),
         firmware, Fate::dropped},
    };
}

class BridgeMessageRules : public ::testing::TestWithParam<MessageCase> {};

TEST_P(BridgeMessageRules, AreAnsweredOrDroppedWithoutAnAnswer)
{
    const auto &message = GetParam();
    BridgeHarness harness;
    harness.clock.advance(std::chrono::seconds(1)); // past the first tap's rate limit
    harness.bridge->receiveMessage(message.body, message.origin);
    harness.settle();

    auto answers = harness.callsTo("resolve");
    switch (message.fate) {
    case Fate::answered:
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(harness.backend->handledMethods().size(), 1u);
        EXPECT_TRUE(answers[0].payload.as_object().contains("result"));
        break;
    case Fate::dropped:
        EXPECT_TRUE(answers.empty());
        EXPECT_TRUE(harness.backend->handledMethods().empty());
        EXPECT_EQ(harness.haptics.taps, 0);
        break;
    case Fate::tapped:
        EXPECT_TRUE(answers.empty());
        EXPECT_EQ(harness.haptics.taps, 1);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Bodies, BridgeMessageRules, ::testing::ValuesIn(messageCases()),
                         [](const auto &testCase) { return std::string(testCase.param.name); });

TEST(BridgeMessageCheck, KeepsTheFieldsTheBridgeUses)
{
    auto message = checkBridgeMessage(
        R"({"method":"select","version":1,"id":"r1-\u0000\"","params":{"id":"music-track:00000000000000AB","volume":50}})",
        firmware);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->method, "select");
    EXPECT_EQ(message->id, std::string("r1-\0\"", 5));
    EXPECT_EQ(message->params, (boost::json::object{{"id", "music-track:00000000000000AB"}, {"volume", 50}}));

    auto withoutParams =
        checkBridgeMessage(R"({"method":"getAbout","version":1,"id":"a","params":"x"})", firmware);
    ASSERT_TRUE(withoutParams);
    EXPECT_TRUE(withoutParams->params.empty());
}

// A zero with a huge exponent must not reach a range check as NaN, which passes every comparison.
TEST(BridgeMessageCheck, ReadsEveryNumberAsTheNumberItSpells)
{
    auto message = checkBridgeMessage(
        R"({"method":"seek","version":1,"id":"s","params":{"seconds":0e400,"volume":-0e999,"x":1e400}})",
        firmware);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->params.at("seconds"), boost::json::value(0.0));
    EXPECT_TRUE(std::signbit(message->params.at("volume").as_double()));
    EXPECT_EQ(message->params.at("volume").as_double(), 0.0);
    EXPECT_EQ(message->params.at("x").as_double(), std::numeric_limits<double>::infinity());
}

} // namespace
} // namespace wheelbox::test
