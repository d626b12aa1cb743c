// wheelbox-osascript's lexer, parser and evaluator on any program text, with the players replaced by
// fakes: whatever a program does, the run ends in a result, a syntax error or an execution error
// whose ranges lie inside the program, and valid UTF-8 in gives valid UTF-8 out.
#include "AllocationBudget.hpp"
#include "FakeMusic.hpp"
#include "FuzzCheck.hpp"
#include "Interpreter.hpp"
#include "Parser.hpp"
#include "SpotifyApplication.hpp"
#include "ValueOperations.hpp"
#include "lib/icu/Unicode.hpp"

#include <cstdint>
#include <string_view>

namespace {

using namespace wheelbox::osascript;

// Enough for every real script (the queue start waits 50 turns) and a few thousand more turns.
constexpr std::uint64_t stepLimit = 20000;
constexpr std::size_t memoryLimit = 64 * 1024 * 1024;

std::unique_ptr<Application> createApplication(std::string_view name)
{
    if (name == "Music")
        return std::make_unique<fuzz::FakeMusic>();
    // No state file: the estimate reads as the player reports.
    return std::make_unique<SpotifyApplication>(std::make_unique<fuzz::FakeMprisPlayer>(),
                                                SpotifyPositionEstimate(std::nullopt, [] { return 0; }));
}

void checkRange(SourceRange range, std::string_view source)
{
    WHEELBOX_FUZZ_CHECK(range.start <= range.end && range.end <= source.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string_view source(reinterpret_cast<const char *>(data), size);
    bool validSource = wheelbox::icu::isValidUTF8(source);

    syntax::Program program;
    try {
        program = parseProgram(source);
    } catch (const SyntaxError &error) {
        checkRange(error.range(), source);
        WHEELBOX_FUZZ_CHECK(!validSource || wheelbox::icu::isValidUTF8(error.what()));
        return 0;
    }

    Interpreter interpreter(createApplication, [](std::chrono::milliseconds) {});
    interpreter.limitSteps(stepLimit);
    try {
        std::optional<Value> result;
        {
            AllocationBudget budget(memoryLimit);
            result = interpreter.run(program);
        }
        if (result) {
            // Printing may take much more than the value (a list that holds itself many times).
            AllocationBudget budget(memoryLimit);
            auto printed = formatResult(*result);
            WHEELBOX_FUZZ_CHECK(!validSource || wheelbox::icu::isValidUTF8(printed));
        }
    } catch (const ExecutionError &error) {
        if (error.range())
            checkRange(*error.range(), source);
        WHEELBOX_FUZZ_CHECK(!validSource || wheelbox::icu::isValidUTF8(error.what()));
    } catch (const std::bad_alloc &) {
        // The tool reports "Out of memory.".
    }
    return 0;
}
