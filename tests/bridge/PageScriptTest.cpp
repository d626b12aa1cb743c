#include "bridge/PageScript.hpp"
#include "BridgeTestSupport.hpp"
#include "bridge/PageJSON.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <variant>

namespace wheelbox::test {
namespace {
namespace json = boost::json;

struct HostileText {
    const char *name;
    std::string text;
    std::string readsAs; // what the page receives
};

const std::string replacement = "\xEF\xBF\xBD";

std::vector<HostileText> hostileTexts()
{
    using namespace std::string_literals;
    return {
        {"quote", R"(say "hi")", R"(say "hi")"},
        {"backslashes", R"(C:\music\ \")", R"(C:\music\ \")"},
        {"scriptEnd", "</script><script>alert(1)</script>", "</script><script>alert(1)</script>"},
        {"lineBreaks", "a\nb\rc\r\nd", "a\nb\rc\r\nd"},
        {"lineAndParagraphSeparators", "a\u2028b\u2029c", "a\u2028b\u2029c"},
        {"nul", "a\0b"s, "a\0b"s},
        {"controlsAndDelete", "\x01\x1F\x7F\t\b\f", "\x01\x1F\x7F\t\b\f"},
        {"wellFormedUnicode", "Ünïcødé 歌 😀 ’…", "Ünïcødé 歌 😀 ’…"},
        {"strayContinuationByte", "a\x80z", "a" + replacement + "z"},
        {"truncatedAtTheEnd", "ab\xC3", "ab" + replacement},
        {"truncatedBeforeASCII", "\xC3(", replacement + "("},
        {"truncatedFourByteSequence", "\xF0\x9F\x98!", replacement + "!"},
        {"overlong", "\xC0\xAF", replacement + replacement},
        {"encodedSurrogate", "\xED\xA0\x80", replacement + replacement + replacement},
        {"aboveTheLastCodePoint", "\xF4\x90\x80\x80", replacement + replacement + replacement + replacement},
        {"latin1Tag", "Caf\xE9 del Mar", "Caf" + replacement + " del Mar"},
        {"invalidByte", "\xFF\xFE", replacement + replacement},
    };
}

class HostileTexts : public ::testing::TestWithParam<HostileText> {};

// The line a call must be, failing the test when it is a function call.
std::string lineOf(const PageScript::PageCall &call)
{
    const auto *line = std::get_if<std::string>(&call);
    EXPECT_TRUE(line) << "a function call where a line was meant";
    return line ? *line : std::string();
}

// What a call of the resolve function hands the page, read the way its body reads it. Each argument
// must already be what a web view carries unchanged, valid UTF-8 without NUL: strict JSON, which
// the arguments are read as, refuses ill-formed UTF-8 and raw control characters.
BridgeHarness::Call readResolveCall(const PageScript::PageCall &call)
{
    BridgeHarness::Call read{"resolve", {}, {}};
    const auto *function = std::get_if<PageFunctionCall>(&call);
    if (!function) {
        ADD_FAILURE() << "a line where a function call was meant";
        return read;
    }
    EXPECT_EQ(function->body, PageScript::resolveFunctionBody);
    std::map<std::string, std::string> texts;
    for (const auto &argument : function->arguments) {
        texts[argument.name] = argument.text;
    }
    EXPECT_EQ(texts.size(), 2u);
    read.id = json::value_to<std::string>(json::parse(texts[std::string(PageScript::resolveIdArgument)]));
    read.payload = json::parse(texts[std::string(PageScript::resolvePayloadArgument)]);
    return read;
}

// The id comes from the page, the payload from music files' tags: both end up in one line that must
// stay one line of valid JavaScript and valid UTF-8, and read back as the text (or its repair).
TEST_P(HostileTexts, StayOneValidLineAndReadBackAsSent)
{
    const auto &hostile = GetParam();
    json::object row{{"title", hostile.text}, {hostile.text, 1}};
    json::object expectedRow{{"title", hostile.readsAs}, {hostile.readsAs, 1}};

    auto line = PageScript::resolveWithResult(hostile.text, json::value{{"items", json::array{row}}});
    ASSERT_TRUE(line);
    auto answer = parseCall(lineOf(*line));
    EXPECT_EQ(answer.function, "resolve");
    EXPECT_EQ(answer.id, hostile.readsAs);
    EXPECT_EQ(answer.payload, (json::value{{"result", {{"items", json::array{expectedRow}}}}}));

    auto failure = parseCall(lineOf(PageScript::resolveWithError("r1", hostile.text)));
    EXPECT_EQ(failure.payload, (json::value{{"error", hostile.readsAs}}));

    // A long answer travels as arguments, and reads back the same from them and from its line.
    json::array many(500, json::value(row));
    auto large = PageScript::resolveWithResult(hostile.text, json::value{{"items", many}});
    ASSERT_TRUE(large);
    auto passed = readResolveCall(*large);
    EXPECT_EQ(passed.id, hostile.readsAs);
    EXPECT_EQ(passed.payload.at("result").at("items").at(499), json::value(expectedRow));
    auto asLine = parseCall(PageScript::asLine(*large));
    EXPECT_EQ(asLine.id, passed.id);
    EXPECT_EQ(asLine.payload, passed.payload);

    // The same text inside a push long enough to travel as JSON.parse("…").
    auto push = PageScript::nowPlaying(json::value{{"items", many}});
    ASSERT_TRUE(push && push->starts_with("window.veltoNative?.nowPlaying(JSON.parse(\""));
    auto parsed = parseCall(*push);
    EXPECT_EQ(parsed.payload.at("items").as_array().size(), 500u);
    EXPECT_EQ(parsed.payload.at("items").at(499), json::value(expectedRow));
}

INSTANTIATE_TEST_SUITE_P(Texts, HostileTexts, ::testing::ValuesIn(hostileTexts()),
                         [](const auto &testCase) { return std::string(testCase.param.name); });

TEST(PageScript, WritesTheExactLinesThePageExpects)
{
    EXPECT_EQ(lineOf(*PageScript::resolveWithResult("r1", json::value{{"alwaysOnTop", true}})),
              R"(window.veltoNative?.resolve("r1", {"result":{"alwaysOnTop":true}});)");
    EXPECT_EQ(lineOf(*PageScript::resolveWithResult("r2", std::nullopt)),
              R"(window.veltoNative?.resolve("r2", {});)");
    EXPECT_EQ(lineOf(PageScript::resolveWithError("r3", "Expired native request: getList")),
              R"(window.veltoNative?.resolve("r3", {"error":"Expired native request: getList"});)");
    EXPECT_EQ(PageScript::battery({0.5, true}),
              R"(window.veltoNative?.battery({"level":0.5,"charging":true});)");
    EXPECT_EQ(PageScript::battery({1, false}),
              R"(window.veltoNative?.battery({"level":1.0,"charging":false});)");
    EXPECT_EQ(PageScript::nowPlaying(json::value{{"title", "Song"}, {"volume", 42.0}}),
              R"(window.veltoNative?.nowPlaying({"title":"Song","volume":42.0});)");
}

TEST(PageScript, PassesLongAnswersAsArgumentsAndShortOnesAsLines)
{
    // An error text that makes a payload of exactly `length` bytes of JSON text.
    auto errorOfLength = [](std::size_t length) {
        return std::string(length - std::string_view(R"({"error":""})").size(), 'x');
    };
    auto atThreshold = PageScript::resolveWithError("r1", errorOfLength(PageScript::parsedPayloadThreshold));
    auto aboveThreshold =
        PageScript::resolveWithError("r1", errorOfLength(PageScript::parsedPayloadThreshold + 1));
    EXPECT_TRUE(lineOf(atThreshold).starts_with(R"(window.veltoNative?.resolve("r1", {"error":"xxx)"));
    EXPECT_EQ(readResolveCall(aboveThreshold).payload.at("error"),
              json::value(errorOfLength(PageScript::parsedPayloadThreshold + 1)));

    // Written as one line, a long answer reads as it always did: its payload in JSON.parse("…").
    auto line = PageScript::asLine(aboveThreshold);
    EXPECT_TRUE(line.starts_with(R"(window.veltoNative?.resolve("r1", JSON.parse("{\"error\":\"xxx)"))
        << line;
    EXPECT_TRUE(line.ends_with(R"(xxx\"}"));)")) << line;
}

TEST(PageScript, WritesAnyOtherFunctionCallAsALineThatCallsItWithTheTexts)
{
    PageFunctionCall call{"window.veltoNative?.battery({level: Number(a), label: b});", {}};
    call.arguments.push_back({"a", "0.5"});
    call.arguments.push_back({"b", "say \"hi\"\n\u2028</script>"});
    EXPECT_EQ(PageScript::asLine(call), "(async (a, b) => { window.veltoNative?.battery({level: Number(a), "
                                        "label: b}); })(\"0.5\", \"say \\\"hi\\\"\\n\\u2028</script>\");");
}

TEST(PageScript, PassesLongPayloadsAsParsedTextAndShortOnesAsLiterals)
{
    // A string payload of exactly `length` bytes of JSON text.
    auto ofLength = [](std::size_t length) {
        return json::value(std::string(length - 2, 'x'));
    };
    auto atThreshold = PageScript::nowPlaying(ofLength(PageScript::parsedPayloadThreshold));
    auto aboveThreshold = PageScript::nowPlaying(ofLength(PageScript::parsedPayloadThreshold + 1));
    ASSERT_TRUE(atThreshold && aboveThreshold);
    EXPECT_TRUE(atThreshold->starts_with("window.veltoNative?.nowPlaying(\"xxx"));
    EXPECT_TRUE(aboveThreshold->starts_with("window.veltoNative?.nowPlaying(JSON.parse(\"\\\"xxx"));
    EXPECT_TRUE(aboveThreshold->ends_with("xxx\\\"\"));"));
    EXPECT_EQ(parseCall(*aboveThreshold).payload, ofLength(PageScript::parsedPayloadThreshold + 1));
}

struct NumberCase {
    json::value value;
    const char *text;
};

TEST(PageJSON, WritesNumbersAsJavaScriptReadsThemBack)
{
    const NumberCase cases[] = {
        {42.0, "42.0"},
        {0.49, "0.49"},
        {-0.0, "-0.0"},
        {1e21, "1000000000000000000000.0"},
        {std::int64_t{-9223372036854775807 - 1}, "-9223372036854775808"},
        {std::uint64_t{18446744073709551615u}, "18446744073709551615"},
        {50, "50"},
    };
    for (const auto &number : cases) {
        auto text = toPageJSON(number.value);
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, number.text);
        EXPECT_EQ(json::parse(*text).to_number<double>(), number.value.to_number<double>());
    }
    // The extremes of double still read back exactly, without an exponent.
    for (double extreme : {5e-324, 1.7976931348623157e308, 0.1 + 0.2}) {
        auto text = toPageJSON(extreme);
        ASSERT_TRUE(text);
        EXPECT_EQ(text->find_first_of("eE"), std::string::npos) << *text;
        double readBack = 0;
        std::from_chars(text->data(), text->data() + text->size(), readBack);
        EXPECT_EQ(readBack, extreme) << *text;
    }
}

TEST(PageJSON, RefusesWhatJSONCannotHold)
{
    EXPECT_FALSE(toPageJSON(json::value{{"volume", std::nan("")}}));
    EXPECT_FALSE(toPageJSON(json::array{1, std::numeric_limits<double>::infinity()}));
    EXPECT_FALSE(PageScript::resolveWithResult("r1", json::value(-std::numeric_limits<double>::infinity())));
    EXPECT_FALSE(PageScript::nowPlaying(json::value{{"position", std::nan("")}}));

    auto nested = [](int depth) {
        json::value value = 1;
        for (int i = 0; i < depth; ++i)
            value = json::array{std::move(value)};
        return value;
    };
    EXPECT_TRUE(toPageJSON(nested(maximumPageJSONDepth)));
    EXPECT_FALSE(toPageJSON(nested(maximumPageJSONDepth + 1)));
}

} // namespace
} // namespace wheelbox::test
