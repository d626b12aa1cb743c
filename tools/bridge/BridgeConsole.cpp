#include "BridgeConsole.hpp"

#include "bridge/PageScript.hpp"
#include "platform/Clock.hpp"
#include "window/PageOrigin.hpp"

#include <boost/json/parse.hpp>

#include <cmath>
#include <unistd.h>

namespace wheelbox {
namespace json = boost::json;

namespace {

// Deep enough for anything a person types; a deeper line is still passed on as a body, for the
// bridge to refuse.
constexpr std::size_t consoleParseDepth = 1000;
// One day: a longer wait is a typing mistake, not a test.
constexpr double longestWaitSeconds = 86'400;

// One whole line, flushed at once. The stream stays locked from the text to its line break, so a
// line another thread writes (a back end's own report) never lands inside it.
void writeLine(std::FILE *stream, std::string_view text)
{
    ::flockfile(stream);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::putc('\n', stream);
    std::fflush(stream);
    ::funlockfile(stream);
}

} // namespace

BridgeConsole::BridgeConsole(GLibMainLoop &loop, ConsoleBackEnd backEnd,
                             const std::filesystem::path &powerSupply, std::FILE *output, std::FILE *effects)
    : loop_(loop), output_(output), effects_(effects), defaults_(std::move(backEnd.defaults)),
      powerSource_(powerSupply),
      // The device window starts at the level the user chose, as the application's does.
      level_(defaults_->boolean("alwaysOnTop").value_or(false) ? floatingWindowLevel : normalWindowLevel),
      origin_(messageOriginOfPage(startPage))
{
    bridge_ = std::make_unique<NativeBridge>(
        std::move(backEnd.backend),
        BridgeServices{loop_, Clock::system(), *defaults_, *this, powerSource_, [this] {
                           report("# terminate");
                           finish();
                       }});
    bridge_->attach(this, this);
    input_ = std::make_unique<StandardInputLines>(
        loop_.context(), STDIN_FILENO,
        StandardInputLines::Handlers{
            [this](std::string_view line, std::size_t number) { return handleLine(line, number); },
            [this] { finish(); },
            [this](std::size_t number) {
                skip(number,
                     "longer than " + std::to_string(StandardInputLines::maximumLineBytes) + " bytes");
            }});
}

BridgeConsole::~BridgeConsole()
{
    input_.reset();
    wait_.reset();
    bridge_.reset();
}

int BridgeConsole::run()
{
    loop_.run();
    return 0;
}

void BridgeConsole::evaluateJavaScript(const std::string &script)
{
    writeLine(output_, script);
}

void BridgeConsole::callFunction(PageFunctionCall call)
{
    writeLine(output_, PageScript::asLine(std::move(call)));
}

void BridgeConsole::setLevel(int level)
{
    level_ = level;
    report("# window level " + std::to_string(level));
}

void BridgeConsole::performAlignmentTap()
{
    report("# haptic");
}

void BridgeConsole::report(const std::string &text)
{
    writeLine(effects_, text);
}

void BridgeConsole::skip(std::size_t number, std::string_view why)
{
    report("# line " + std::to_string(number) + " skipped: " + std::string(why));
}

StandardInputLines::Flow BridgeConsole::handleLine(std::string_view line, std::size_t number)
{
    if (finishing_)
        return StandardInputLines::Flow::hold;
    json::parse_options options;
    options.max_depth = consoleParseDepth;
    json::error_code error;
    json::value parsed = json::parse(line, error, {}, options);
    if (error != json::error::too_deep) {
        const auto *object = error ? nullptr : parsed.if_object();
        if (!object) {
            skip(number, "not a JSON object");
            return StandardInputLines::Flow::more;
        }
        if (object->size() == 1 && object->begin()->key().starts_with('$'))
            return control(std::string(object->begin()->key()), object->begin()->value(), number);
    }
    bridge_->receiveMessage(line, origin_);
    return StandardInputLines::Flow::more;
}

StandardInputLines::Flow BridgeConsole::control(const std::string &key, const json::value &value,
                                                std::size_t number)
{
    if (key == "$navigate") {
        if (!value.is_string()) {
            skip(number, "$navigate takes a URL");
        } else {
            // A provisional navigation: the old page's session ends, and messages now come from
            // the new page.
            origin_ = messageOriginOfPage(value.get_string());
            bridge_->resetWebSession(SessionResetWait::no);
        }
    } else if (key == "$visible") {
        if (!value.is_bool())
            skip(number, "$visible takes true or false");
        else
            visible_ = value.get_bool();
    } else if (key == "$wait") {
        double seconds = value.is_number() ? value.to_number<double>() : -1;
        if (!(seconds >= 0 && seconds <= longestWaitSeconds)) {
            skip(number, "$wait takes a number of seconds from 0 to 86400");
        } else {
            wait_ = loop_.schedule(
                std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds)),
                MainLoop::Repeat::once, [this] { input_->resume(); });
            return StandardInputLines::Flow::hold;
        }
    } else {
        skip(number, "unknown control " + key);
    }
    return StandardInputLines::Flow::more;
}

void BridgeConsole::finish()
{
    if (finishing_)
        return;
    finishing_ = true;
    input_->stop();
    wait_.reset();
    bridge_->notifyWhenIdle([this] {
        bridge_->resetWebSession(SessionResetWait::yes);
        loop_.quit();
    });
}

} // namespace wheelbox
