// The language itself: values, coercions, comparisons, formatting, control flow, errors and the
// syntax the stand-in refuses. Programs run through the real parser and interpreter; where a tell
// block is needed, a recording application stands in for the player.

#include "Interpreter.hpp"
#include "Lexer.hpp"
#include "ParameterNames.hpp"
#include "Parser.hpp"
#include "ScriptFixtures.hpp"
#include "ValueOperations.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace wheelbox::osascript {
namespace {

using ::testing::HasSubstr;

// Records what the interpreter asks; answers from a table of properties.
class RecordingApplication final : public Application {
  public:
    RecordingApplication(std::string name, std::vector<std::string> &sink) : log(sink), name_(std::move(name))
    {}

    std::string_view name() const noexcept override { return name_; }
    void setTimeout(std::chrono::milliseconds timeout) override { timeout_ = timeout; }

    Value getProperty(const ObjectReference *, Property property) override
    {
        log.push_back("get " + std::string(propertyName(property)) + " within " +
                      std::to_string(timeout_.count()));
        auto found = properties.find(property);
        if (found == properties.end())
            throw ApplicationError("Can’t get " + std::string(propertyName(property)) + ".",
                                   errorNumber::cannotGet);
        return found->second;
    }
    void setProperty(const ObjectReference *, Property property, const Value &value) override
    {
        log.push_back("set " + std::string(propertyName(property)) + " " + describeValue(value));
    }
    Value runCommand(Command command, const std::optional<Value> &parameter) override
    {
        log.push_back("command " + std::to_string(static_cast<int>(command)) +
                      (parameter ? " " + describeValue(*parameter) : std::string()));
        return Value();
    }
    Value everyElement(const ObjectReference *, ElementClass,
                       const std::optional<ElementFilter> &filter) override
    {
        log.push_back("every whose " + (filter ? describeValue(filter->value) : std::string("-")));
        return Value::list();
    }
    void invalidateReadings() noexcept override { log.push_back("invalidate"); }
    void finish() override { log.push_back("finish"); }

    std::map<Property, Value> properties;
    std::vector<std::string> &log;

  private:
    std::string name_;
    std::chrono::milliseconds timeout_{0};
};

struct Outcome {
    std::optional<std::string> result;
    std::optional<std::string> error;
    int number = 0;
    SourceRange range;
};

class osascriptLanguageTest : public ::testing::Test {
  protected:
    Outcome run(std::string_view source)
    {
        Outcome outcome;
        try {
            auto program = parseProgram(source);
            Interpreter interpreter(
                [this](std::string_view name) -> std::unique_ptr<Application> {
                    created.emplace_back(name);
                    auto application = std::make_unique<RecordingApplication>(std::string(name), log);
                    application->properties = properties;
                    return application;
                },
                [this](std::chrono::milliseconds duration) {
                    slept += std::chrono::duration<double>(duration).count();
                });
            if (auto result = interpreter.run(program))
                outcome.result = formatResult(*result);
        } catch (const ExecutionError &error) {
            outcome.error = error.what();
            outcome.number = error.number();
            outcome.range = error.range().value_or(SourceRange{});
        }
        return outcome;
    }

    std::map<Property, Value> properties;
    std::vector<std::string> created;
    std::vector<std::string> log;
    double slept = 0;
};

struct ResultCase {
    const char *program;
    const char *expected;
    friend void PrintTo(const ResultCase &c, std::ostream *os) { test::printParameter(c.program, os); }
};

class osascriptResultTest : public osascriptLanguageTest, public ::testing::WithParamInterface<ResultCase> {};

TEST_P(osascriptResultTest, PrintsWhatAppleScriptPrints)
{
    auto outcome = run(GetParam().program);
    ASSERT_FALSE(outcome.error) << *outcome.error;
    ASSERT_TRUE(outcome.result);
    EXPECT_EQ(*outcome.result, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Arithmetic, osascriptResultTest,
    ::testing::Values(ResultCase{"return 1 + 2", "3"}, ResultCase{"return 7 / 2", "3.5"},
                      ResultCase{"return 6 / 2", "3.0"}, ResultCase{"return 7 div 2", "3"},
                      ResultCase{"return -7 mod 3", "-1"}, ResultCase{"return 2 ^ 3", "8.0"},
                      ResultCase{"return 536870911 + 1", "5.36870912E+8"}, ResultCase{"return -(3)", "-3"},
                      ResultCase{"return 2 + 3 * 4", "14"}, ResultCase{"return \"42\" + 1", "43"},
                      ResultCase{"return \"2.5\" * 2", "5.0"}, ResultCase{"return 0.25 * 2 - 1", "-0.5"}));

INSTANTIATE_TEST_SUITE_P(
    RealFormatting, osascriptResultTest,
    ::testing::Values(ResultCase{"return 10000.0", "1.0E+4"}, ResultCase{"return 9999.5", "9999.5"},
                      ResultCase{"return 12.5", "12.5"}, ResultCase{"return 1 / 3", "0.333333333333"},
                      ResultCase{"return 0.1 + 0.2", "0.3"}, ResultCase{"return 1.0E-5", "1.0E-5"},
                      ResultCase{"return 123456.789", "1.23456789E+5"}, ResultCase{"return 0.0", "0.0"},
                      ResultCase{"return -2.0", "-2.0"}, ResultCase{"return 245.123 as text", "245.123"}));

INSTANTIATE_TEST_SUITE_P(
    Coercions, osascriptResultTest,
    ::testing::Values(
        ResultCase{"return 3 as text", "3"}, ResultCase{"return 3.0 as text", "3.0"},
        ResultCase{"return true as text", "true"}, ResultCase{"return \"12\" as integer", "12"},
        ResultCase{"return 2.5 as integer", "2"}, ResultCase{"return 3.5 as integer", "4"},
        ResultCase{"return \" 7 \" as number", "7"}, ResultCase{"return \"1.0E+4\" as number", "1.0E+4"},
        ResultCase{"return \"TRUE\" as boolean", "true"}, ResultCase{"return 4 as real", "4.0"},
        ResultCase{"return {1, \"a\", 2.5} as text", "1a2.5"},
        ResultCase{"return missing value as text", "missing value"},
        ResultCase{"set AppleScript's text item delimiters to \", \"\nreturn {1, {2, 3}} as text", "1, 2, 3"},
        ResultCase{"set AppleScript's text item delimiters to {\"-\"}\nreturn {\"a\", \"b\"} as string",
                   "a-b"},
        ResultCase{"return (ASCII character 65) & (ASCII character 233)", "Aé"}));

INSTANTIATE_TEST_SUITE_P(
    Comparisons, osascriptResultTest,
    ::testing::Values(
        ResultCase{"return \"abc\" is \"ABC\"", "true"}, ResultCase{"return \"ÄBC\" is \"äbc\"", "true"},
        ResultCase{"return \"abc\" = \"abd\"", "false"}, ResultCase{"return 1 is 1.0", "true"},
        ResultCase{"return \"1\" is 1", "false"}, ResultCase{"return 2 > \"10\"", "false"},
        ResultCase{"return \"2\" > \"10\"", "true"}, ResultCase{"return \"b\" < \"A\"", "false"},
        ResultCase{"return {1, \"A\"} is {1, \"a\"}", "true"}, ResultCase{"return {1, 2} contains 2", "true"},
        ResultCase{"return \"Hello\" contains \"ELL\"", "true"}, ResultCase{"return 1 ≠ 2", "true"},
        ResultCase{"return 3 >= 3 and 2 <= 1", "false"}, ResultCase{"return not (1 is 2) or false", "true"},
        ResultCase{"return 5 is greater than 3", "true"},
        ResultCase{"return 3 is less than or equal to 3", "true"}, ResultCase{"return 0 is 0.0", "true"},
        ResultCase{"return missing value is missing value", "true"},
        // Unicode case folding: Ÿ (U+0178) folds to ÿ, not to the Ź that follows it.
        ResultCase{"return \"Ÿ\" is \"ÿ\"", "true"}, ResultCase{"return \"Ź\" is \"ÿ\"", "false"},
        ResultCase{"return \"ΣΑΣ\" is \"σας\"", "true"}, ResultCase{"return \"ǅ\" is \"ǆ\"", "true"}));

INSTANTIATE_TEST_SUITE_P(
    TextAndLists, osascriptResultTest,
    ::testing::Values(
        ResultCase{"return \"a\" & 1", "a1"}, ResultCase{"return 1 & 2", "1, 2"},
        ResultCase{"return {1} & {2, 3}", "1, 2, 3"}, ResultCase{"return item 2 of {\"x\", \"y\"}", "y"},
        ResultCase{"return item -1 of {1, 2, 3}", "3"}, ResultCase{"return count of {1, 2, 3}", "3"},
        ResultCase{"return count of \"héllo\"", "5"}, ResultCase{"return item 2 of \"héllo\"", "é"},
        ResultCase{"return \"a\\\"b\\\\c\"", "a\"b\\c"}, ResultCase{"return {name:\"x\"}", "name:x"},
        ResultCase{"set a to {1}\nset b to a\nset end of b to 2\nreturn count of a", "2"},
        ResultCase{"repeat 2 times\nset L to {}\nset end of L to 1\nend repeat\nreturn count of L", "1"},
        ResultCase{"set L to {1, 2}\nset item 1 of L to 5\nreturn L", "5, 2"},
        ResultCase{"set L to {}\nrepeat with c in \"añ☕\"\nset end of L to c\nend repeat\nreturn L",
                   "a, ñ, ☕"},
        // A list that holds itself is still the same list.
        ResultCase{"set L to {1}\nset end of L to L\nreturn L is L", "true"},
        ResultCase{"set L to {1}\nset end of L to L\nreturn count of L", "2"},
        ResultCase{"return 1e-999", "0.0"}));

INSTANTIATE_TEST_SUITE_P(
    ControlFlow, osascriptResultTest,
    ::testing::Values(
        ResultCase{"set n to 0\nrepeat 3 times\nset n to n + 1\nend repeat\nreturn n", "3"},
        ResultCase{"set s to 0\nrepeat with i from 1 to 10 by 3\nset s to s + i\nend repeat\nreturn s", "22"},
        ResultCase{"set s to 0\nrepeat with i from 3 to 1 by -1\nset s to s * 10 + i\nend repeat\nreturn s",
                   "321"},
        ResultCase{
            "set L to {}\nrepeat with x in {\"a\", \"b\"}\nset end of L to x & \"!\"\nend repeat\nreturn L",
            "a!, b!"},
        ResultCase{"set i to 0\nrepeat\nset i to i + 1\nif i is 4 then exit repeat\nend repeat\nreturn i",
                   "4"},
        ResultCase{"set i to 0\nrepeat while i < 3\nset i to i + 1\nend repeat\nreturn i", "3"},
        ResultCase{"set i to 0\nrepeat until i = 2\nset i to i + 1\nend repeat\nreturn i", "2"},
        ResultCase{
            "set x to 2\nif x is 1 then\nreturn \"a\"\nelse if x is 2 then\nreturn \"b\"\nelse\nreturn "
            "\"c\"\nend if",
            "b"},
        ResultCase{"if 1 < 2 then return \"yes\"", "yes"},
        ResultCase{"try\nerror \"bad\" number 42\non error m number n\nreturn m & \"/\" & n\nend try",
                   "bad/42"},
        ResultCase{"try\nerror \"x\"\non error number n\nreturn n\nend try", "-2700"},
        ResultCase{
            "try\ntry\nerror \"inner\"\non error m\nerror m & \"!\" number 5\nend try\non error m number "
            "n\nreturn m & n\nend try",
            "inner!5"},
        ResultCase{"try\nreturn item 3 of {1}\nend try\nreturn \"swallowed\"", "swallowed"},
        ResultCase{"set x to 5 -- a comment\n# another\nreturn x", "5"},
        ResultCase{"(* a (* nested *) comment *) return 1", "1"}, ResultCase{"return 1 + ¬\n   2", "3"},
        ResultCase{"return 1 + ¬ -- why\n   2", "3"}, ResultCase{"set Foo to 1\nreturn foo", "1"},
        ResultCase{"set x to 3", "3"},
        ResultCase{"with timeout of 2 seconds\n  return 1\nend timeout", "1"}));

TEST_F(osascriptLanguageTest, ReturnWithoutValueAndCommandsPrintNothing)
{
    EXPECT_FALSE(run("return").result);
    EXPECT_FALSE(run("tell application \"Music\" to playpause").result);
}

struct ErrorCase {
    const char *program;
    const char *message;
    int number;
    friend void PrintTo(const ErrorCase &c, std::ostream *os) { test::printParameter(c.program, os); }
};

class osascriptErrorTest : public osascriptLanguageTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(osascriptErrorTest, FailsWithAppleScriptsMessageAndNumber)
{
    auto outcome = run(GetParam().program);
    ASSERT_TRUE(outcome.error) << "result: " << outcome.result.value_or("none");
    EXPECT_EQ(*outcome.error, GetParam().message);
    EXPECT_EQ(outcome.number, GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, osascriptErrorTest,
    ::testing::Values(
        ErrorCase{"return x", "The variable x is not defined.", -2753},
        ErrorCase{"return \"abc\" as number", "Can’t make \"abc\" into type number.", -1700},
        ErrorCase{"return item 5 of {1, 2}", "Can’t get item 5 of {1, 2}.", -1728},
        ErrorCase{"return 1 / 0", "Can’t divide 1 by zero.", -2701},
        ErrorCase{"error \"Song is not in the Music library.\"", "Song is not in the Music library.", -2700},
        ErrorCase{"error \"x\" number 7", "x", 7},
        ErrorCase{"if \"maybe\" then return 1", "Can’t make \"maybe\" into type boolean.", -1700},
        ErrorCase{"return {a:1} as text", "Can’t make {a:1} into type text.", -1700},
        ErrorCase{"return 1 < missing value", "Can’t make missing value into type number.", -1700},
        ErrorCase{"return ASCII character 300", "Can’t make 300 into type character.", -1700},
        // Numbers no integer can hold are refused, never cast.
        ErrorCase{"return 1.0E+300 div 1", "Can’t make 1.0E+300 into type integer.", -1700},
        ErrorCase{"with timeout of 1.0E+300 seconds\nreturn 1\nend timeout",
                  "Can’t make 1.0E+300 into type integer.", -1700},
        ErrorCase{"delay 1.0E+300", "Can’t make 1.0E+300 into type integer.", -1700},
        ErrorCase{"return \"1e999\" as number", "Can’t make \"1e999\" into type number.", -1700},
        // Printing or comparing a list that holds itself ends in an error, not in a crash.
        ErrorCase{"set L to {1}\nset end of L to L\nreturn L as text", "Can’t make {…} into type text.",
                  -1700},
        ErrorCase{"set L to {1}\nset end of L to L\nset M to {1}\nset end of M to M\nreturn L is M",
                  "Can’t make {…} into type list.", -1700},
        ErrorCase{"tell application \"Music\" to return current track",
                  "Music got an error: Can’t get current track.", -1728},
        ErrorCase{
            "tell application \"Music\"\n  try\n    return player state\n  on error m number n\n    error m "
            "number n\n  end try\nend tell",
            "Music got an error: Can’t get player state.", -1728}));

TEST_F(osascriptLanguageTest, AnErrorNamesTheInnermostFailingStatement)
{
    std::string program = "set a to 1\ntell application \"Music\"\n  set b to 2\n  return c\nend tell";
    auto outcome = run(program);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(program.substr(outcome.range.start, outcome.range.end - outcome.range.start), "return c");
}

struct SyntaxCase {
    const char *program;
    const char *message;
    // The text the error marks, where a case pins it down.
    const char *marked = nullptr;
    friend void PrintTo(const SyntaxCase &c, std::ostream *os) { test::printParameter(c.program, os); }
};

class osascriptSyntaxTest : public ::testing::TestWithParam<SyntaxCase> {};

TEST_P(osascriptSyntaxTest, RefusesWhatIsOutsideTheSubset)
{
    try {
        parseProgram(GetParam().program);
        FAIL() << "parsed: " << GetParam().program;
    } catch (const SyntaxError &error) {
        EXPECT_THAT(error.what(), HasSubstr(GetParam().message));
        std::string_view program = GetParam().program;
        auto range = error.range();
        ASSERT_TRUE(range.start <= range.end && range.end <= program.size())
            << range.start << ":" << range.end << " of " << program.size();
        if (GetParam().marked) {
            EXPECT_EQ(program.substr(range.start, range.end - range.start), GetParam().marked);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Refused, osascriptSyntaxTest,
    ::testing::Values(
        SyntaxCase{"do shell script \"rm -rf ~\"", "Expected end of line but found identifier."},
        SyntaxCase{"tell application \"Music\" to do shell script \"ls\"", "Expected end of line"},
        SyntaxCase{"tell application \"Finder\" to quit", "Can’t find application “Finder”."},
        SyntaxCase{"tell application \"System Events\" to keystroke \"q\"", "Can’t find application"},
        SyntaxCase{"tell application \"Music\" to return spotify url of current track",
                   "Expected end of line"},
        SyntaxCase{"tell application \"Spotify\" to make new user playlist with properties {name:\"x\"}",
                   "Expected expression but found command name.", "make"},
        // The first token of the program: nothing read yet, so nothing to measure a range from.
        SyntaxCase{" make new playlist", "Expected expression but found command name.", "make"},
        SyntaxCase{"delete item 1 of {1}", "Expected expression but found command name.", "delete"},
        SyntaxCase{"return 1 & duplicate x to y", "Expected expression but found command name.", "duplicate"},
        SyntaxCase{"return current track", "Expected end of line"},
        SyntaxCase{"load script \"/tmp/x.scpt\"", "Expected end of line"},
        SyntaxCase{"on run\nreturn 1\nend run", "Expected expression"},
        SyntaxCase{"set x to", "Expected expression but found end of script."},
        SyntaxCase{"return \"abc", "Expected “\"” but found end of script."},
        SyntaxCase{"if true then\nreturn 1", "Expected “end” but found end of script."},
        SyntaxCase{"repeat 3\nend repeat", "Expected “times” but found end of line."},
        SyntaxCase{"return (1", "Expected “)”"}, SyntaxCase{"set 3 to x", "Can’t set this kind of value."},
        SyntaxCase{"return 1 as file", "Expected class name"},
        SyntaxCase{"return x's name", "Expected end of line"},
        SyntaxCase{"tell application (\"Mu\" & \"sic\") to pause", "Expected application name"},
        SyntaxCase{"return 3x", "can’t go after this number"}, SyntaxCase{"return 1 $ 2", "unknown token"},
        SyntaxCase{"return 1e999", "The result of a numeric operation was too large."},
        SyntaxCase{
            "return "
            "1000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
            "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
            "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
            "0000000000000000000000000000000000000000000000000000000000000000000000000000000.0",
            "The result of a numeric operation was too large."}));

// Input nested without end must be refused before it can exhaust the stack, whichever way it nests.
TEST(osascriptNestingTest, ProgramsNestedTooDeeplyAreSyntaxErrors)
{
    auto repeated = [](std::string_view piece, int times) {
        std::string text;
        for (int i = 0; i < times; ++i)
            text += piece;
        return text;
    };
    const std::string programs[] = {
        "return " + repeated("(", 100000) + "1" + repeated(")", 100000),
        "return " + repeated("{", 100000) + "1" + repeated("}", 100000),
        "return " + repeated("not ", 100000) + "true",
        "return " + repeated("- ", 100000) + "1",
        "return 1" + repeated(" + 1", 100000),
        "return \"a\"" + repeated(" & \"a\"", 100000),
        "return 2" + repeated(" ^ 2", 100000),
        repeated("if true then\n", 100000) + "return 1",
        "return item 1 of " + repeated("item 1 of ", 100000) + "{1}",
    };
    for (const auto &program : programs) {
        try {
            parseProgram(program);
            ADD_FAILURE() << "parsed " << program.substr(0, 40);
        } catch (const SyntaxError &error) {
            EXPECT_STREQ(error.what(), "The program is nested too deeply.") << program.substr(0, 40);
        }
    }
    // What the players' scripts need stays well inside.
    EXPECT_NO_THROW(parseProgram("return " + repeated("(", 20) + "1" + repeated(" + 1)", 20)));
    EXPECT_NO_THROW(parseProgram("return {" + repeated("{", 20) + "1" + repeated("}", 20) + "}"));
}

TEST_F(osascriptLanguageTest, ApplicationsAreCreatedOnlyWhenAddressed)
{
    properties[Property::PlayerState] = Value(Constant{"playing"});
    auto outcome =
        run("if false then\n  tell application \"Spotify\" to pause\nend if\ntell application \"Music\"\n"
            "  return player state is playing\nend tell");
    EXPECT_EQ(outcome.result, "true");
    EXPECT_EQ(created, std::vector<std::string>{"Music"});
}

TEST_F(osascriptLanguageTest, TimeoutBlocksBoundEachRequestAndEndWithTheirBlock)
{
    properties[Property::SoundVolume] = Value(50);
    run("tell application \"Music\"\n  with timeout of 3 seconds\n    get sound volume\n  end timeout\n"
        "  get sound volume\nend tell");
    EXPECT_EQ(log, (std::vector<std::string>{"get sound volume within 3000", "get sound volume within 120000",
                                             "finish"}));
}

TEST_F(osascriptLanguageTest, DelayWaitsAndMakesReadingsStale)
{
    properties[Property::PlayerState] = Value(Constant{"paused"});
    run("tell application \"Music\"\n  delay 0.2\n  delay 0.3\nend tell");
    EXPECT_DOUBLE_EQ(slept, 0.5);
    EXPECT_EQ(std::count(log.begin(), log.end(), "invalidate"), 2);
}

TEST_F(osascriptLanguageTest, HeldBackWorkReachesThePlayerEvenWhenTheScriptFails)
{
    run("tell application \"Music\" to playpause\nerror \"late\"");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "finish");
}

TEST_F(osascriptLanguageTest, ExistsIsFalseForWhatCannotBeGot)
{
    EXPECT_EQ(run("tell application \"Music\" to return exists current track").result, "false");
}

TEST_F(osascriptLanguageTest, ApplicationConstantsCompareByName)
{
    properties[Property::SongRepeat] = Value(Constant{"one"});
    EXPECT_EQ(run("tell application \"Music\" to return song repeat is one").result, "true");
    EXPECT_EQ(run("tell application \"Music\" to return (song repeat as text) & \"!\"").result, "one!");
}

// Every script the app sends, filled with the values it would send, is in the language.
TEST(osascriptScriptsTest, EveryScriptParsesWithItsSlotsFilled)
{
    std::map<std::string, std::string> slots = {
        {"step", "previous track"},
        {"position", "42.0"},
        {"scan", "fast forward"},
        {"volume", "49.5"},
        {"enabled", "true"},
        {"repeat", "one"},
        {"trackID", "0123456789ABCDEF"},
        {"startID", "0123456789ABCDEF"},
        {"name", "Wheelbox Queue • 0A1B2C3D"},
        {"pending", "Wheelbox Queue • 0A1B2C3D"},
        {"oldID", "0123456789ABCDEF"},
        {"oldName", "velto Queue • 1"},
        {"startingURI", "spotify:track:1"},
        {"trackList", "\"0123456789ABCDEF\", \"FEDCBA9876543210\""},
        {"settings", test::settingsBlock("100.0", "all")},
        {"restore", "\n            try\n              set player position to 12.5\n            end try"
                    "\n            try\n              pause\n            end try"},
        {"pauseAfterStart", "pause"},
        {"sign", "-1"},
        {"word", "true"}};
    int scripts = 0;
    for (const auto &entry : std::filesystem::directory_iterator(WHEELBOX_OSASCRIPT_FIXTURES)) {
        auto name = entry.path().stem().string();
        std::istringstream lines(test::loadScript(name));
        // One file holds one-line scripts, one a line; the others are one script each.
        std::vector<std::string> programs;
        if (name == "spotify-commands") {
            for (std::string line; std::getline(lines, line);)
                programs.push_back(line);
        } else {
            programs.push_back(lines.str());
        }
        for (const auto &program : programs) {
            auto text = test::wrapInTimeout(test::fill(program, slots), 8);
            EXPECT_NO_THROW(parseProgram(text)) << name << ":\n" << text;
        }
        ++scripts;
    }
    EXPECT_GT(scripts, 0);
}

// Names and identifiers reach the scripts escaped. Whatever they hold, the program must keep the
// shape it has with plain values: the same tokens, and the value itself back as one string.
struct Injection {
    const char *script;
    const char *slot;
    friend void PrintTo(const Injection &c, std::ostream *os)
    {
        test::printParameter(std::string(c.script) + " " + c.slot, os);
    }
};

class osascriptInjectionTest : public ::testing::TestWithParam<Injection> {};

std::vector<std::string> shape(const std::vector<Token> &tokens)
{
    std::vector<std::string> kinds;
    for (const auto &token : tokens)
        kinds.push_back(token.kind == Token::Kind::String ? "<string>" : token.text);
    return kinds;
}

TEST_P(osascriptInjectionTest, HostileTextNeverChangesTheProgram)
{
    const std::vector<std::string> hostile = {
        "a\"b",
        "back\\slash\\",
        "\\\" & (do shell script \"touch /tmp/pwned\") & \"",
        "line\nbreak\r\nand ¬\ncontinued",
        "\" ¬\nend tell\ntell application \"Finder\" to quit\n--",
        "«data» (* comment *) -- not a comment",
    };
    auto benignSlots = [&](const std::string &value) {
        std::map<std::string, std::string> slots = {{"trackID", "0123456789ABCDEF"},
                                                    {"startID", "0123456789ABCDEF"},
                                                    {"name", "Wheelbox Queue • 0A1B2C3D"},
                                                    {"pending", "Wheelbox Queue • 0A1B2C3D"},
                                                    {"oldID", "0123456789ABCDEF"},
                                                    {"oldName", "velto Queue • 1"},
                                                    {"startingURI", "spotify:track:1"},
                                                    {"trackList", "\"0123456789ABCDEF\""},
                                                    {"settings", test::settingsBlock("50.0", "off")},
                                                    {"restore", ""},
                                                    {"pauseAfterStart", ""},
                                                    {"sign", "1"}};
        slots[GetParam().slot] = GetParam().slot == std::string("trackList") ? "\"" + value + "\"" : value;
        return slots;
    };
    auto template_ = test::loadScript(GetParam().script);
    auto reference = shape(tokenize(test::fill(template_, benignSlots("plain"))));
    for (const auto &value : hostile) {
        auto program = test::fill(template_, benignSlots(test::quote(value)));
        auto tokens = tokenize(program);
        EXPECT_EQ(shape(tokens), reference) << value;
        bool foundIntact = std::any_of(tokens.begin(), tokens.end(), [&](const Token &token) {
            return token.kind == Token::Kind::String && token.text == value;
        });
        EXPECT_TRUE(foundIntact) << value;
        EXPECT_NO_THROW(parseProgram(program)) << value;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, osascriptInjectionTest,
    ::testing::Values(Injection{"music-play-track", "trackID"},
                      Injection{"music-is-playing-track", "trackID"}, Injection{"music-start-queue", "name"},
                      Injection{"music-start-queue", "startID"}, Injection{"music-start-queue", "trackList"},
                      Injection{"music-remove-pending", "pending"}, Injection{"music-delete-by-id", "oldID"},
                      Injection{"music-delete-by-name", "oldName"},
                      Injection{"spotify-scan", "startingURI"}));

} // namespace
} // namespace wheelbox::osascript
