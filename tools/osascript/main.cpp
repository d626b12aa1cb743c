// wheelbox-osascript: runs one AppleScript program from standard input against MPD ("Music") or
// an MPRIS player ("Spotify"), the way the script tool of the platform the app came from does.

#include "Interpreter.hpp"
#include "ModuleBoundary.hpp"
#include "MusicApplication.hpp"
#include "Parser.hpp"
#include "ValueOperations.hpp"

#include <dlfcn.h>
#include <iostream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

using namespace wheelbox::osascript;

// The tool's side of the Spotify module: failures that came across as values become exceptions.
class SpotifyProxy final : public Application {
  public:
    explicit SpotifyProxy(CreateBoundaryApplication create) : module_(create(this))
    {
        if (!module_)
            throw ApplicationError("Application isn’t running.", errorNumber::applicationNotRunning);
    }

    std::string_view name() const noexcept override { return "Spotify"; }
    void setTimeout(std::chrono::milliseconds timeout) override { module_->setTimeout(timeout); }
    Value getProperty(const ObjectReference *object, Property property) override
    {
        BoundaryFailure failure;
        Value value = module_->getProperty(object, property, failure);
        rethrow(failure);
        return value;
    }
    void setProperty(const ObjectReference *object, Property property, const Value &value) override
    {
        BoundaryFailure failure;
        module_->setProperty(object, property, value, failure);
        rethrow(failure);
    }
    Value runCommand(Command command, const std::optional<Value> &directParameter) override
    {
        BoundaryFailure failure;
        Value value = module_->runCommand(command, directParameter, failure);
        rethrow(failure);
        return value;
    }
    void invalidateReadings() noexcept override { module_->invalidateReadings(); }

  private:
    static void rethrow(const BoundaryFailure &failure)
    {
        switch (failure.kind) {
        case BoundaryFailure::Kind::None:
            return;
        case BoundaryFailure::Kind::Application:
            throw ApplicationError(failure.message, failure.number);
        case BoundaryFailure::Kind::Script:
            throw ScriptError(failure.message, failure.number);
        }
    }

    std::unique_ptr<BoundaryApplication> module_;
};

// Spotify lives in a module beside the executable so that GIO loads only when a script needs it.
std::unique_ptr<Application> loadSpotify()
{
    char path[4096];
    auto length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        throw ApplicationError("Application isn’t running.", errorNumber::applicationNotRunning);
    std::string module(path, static_cast<std::size_t>(length));
    module = module.substr(0, module.rfind('/') + 1) + "wheelbox-osascript-spotify.so";
    void *handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto create =
        handle ? reinterpret_cast<CreateBoundaryApplication>(dlsym(handle, createBoundaryApplicationSymbol))
               : nullptr;
    if (!create)
        throw ApplicationError("Application isn’t running.", errorNumber::applicationNotRunning);
    return std::make_unique<SpotifyProxy>(create);
}

std::unique_ptr<Application> createApplication(std::string_view name)
{
    if (name == "Music")
        return std::make_unique<MusicApplication>(wheelbox::mpd::defaultMpdAddress());
    return loadSpotify();
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
    std::ios::sync_with_stdio(false);
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
    }
    try {
        Interpreter interpreter(createApplication);
        if (auto result = interpreter.run(program))
            std::cout << formatResult(*result) << '\n';
    } catch (const ScriptError &error) {
        report(source, error.range().value_or(SourceRange{}), "execution error", error.what(),
               error.number());
        return 1;
    }
    std::cout.flush();
    return 0;
}
