// wheelbox-osascript: runs one AppleScript program from standard input against MPD ("Music") or
// an MPRIS player ("Spotify"), the way the script tool of the platform the app came from does.

#include "Interpreter.hpp"
#include "MusicApplication.hpp"
#include "MusicScanner.hpp"
#include "Parser.hpp"
#include "SpotifyApplication.hpp"
#include "ValueOperations.hpp"
#include "lib/posix/BrokenPipe.hpp"

#include <iostream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

using namespace wheelbox::osascript;

std::unique_ptr<Application> createApplication(std::string_view name)
{
    if (name == "Music")
        return std::make_unique<MusicApplication>(wheelbox::mpd::defaultMpdAddress());
    return SpotifyApplication::create();
}

std::size_t characterOffset(std::string_view source, std::size_t byteOffset)
{
    return characterCount(source.substr(0, std::min(byteOffset, source.size())));
}

void report(std::string_view source, SourceRange range, std::string_view kind, std::string_view message,
            int number)
{
    std::cerr << characterOffset(source, range.start) << ':' << characterOffset(source, range.end) << ": "
              << kind << ": " << message << " (" << number << ")\n";
}

} // namespace

int main(int argc, char **argv)
{
    // The scanner and a run talk to MPD, which may hang up at any time; a caller that stops
    // reading the answer makes the last write fail, and the run ends with status 1 below.
    wheelbox::posix::ignoreBrokenPipes();
    std::ios::sync_with_stdio(false);
    if (argc >= 2 && std::string_view(argv[1]) == scanModeArgument)
        return runScanner(std::span<const char *const>(argv + 2, static_cast<std::size_t>(argc - 2)));
    // The program comes from standard input only: this tool reads no script files.
    if (argc > 2 || (argc == 2 && std::string_view(argv[1]) != "-")) {
        std::cerr << "usage: wheelbox-osascript [-]  (the program is read from standard input)\n";
        return 2;
    }
    std::string source(std::istreambuf_iterator<char>(std::cin), {});

    syntax::Program program;
    try {
        program = parseProgram(source);
    } catch (const SyntaxError &error) {
        report(source, error.range(), "syntax error", error.what(), errorNumber::syntax);
        return 1;
    } catch (const std::exception &error) {
        report(source, {}, "execution error", error.what(), errorNumber::userError);
        return 1;
    }
    try {
        Interpreter interpreter(createApplication);
        if (auto result = interpreter.run(program))
            std::cout << formatResult(*result) << '\n';
    } catch (const ExecutionError &error) {
        report(source, error.range().value_or(SourceRange{}), "execution error", error.what(),
               error.number());
        return 1;
    } catch (const std::bad_alloc &) {
        report(source, {}, "execution error", "Out of memory.", errorNumber::userError);
        return 1;
    } catch (const std::exception &error) {
        // Whatever else went wrong, the caller reads an execution error, never a crash.
        report(source, {}, "execution error", error.what(), errorNumber::userError);
        return 1;
    } catch (...) {
        report(source, {}, "execution error", "An unknown error has occurred.", errorNumber::userError);
        return 1;
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}
