#include "BridgeTestSupport.hpp"

#include <thread>

#include <gtest/gtest.h>

namespace wheelbox::test {
namespace json = boost::json;

Reply ScriptedBackend::handle(const Request &request)
{
    std::function<Reply(const Request &)> reply;
    std::shared_ptr<Gate> gate;
    {
        std::lock_guard guard(script_->lock);
        script_->handled.push_back(request.method);
        if (auto found = script_->replies.find(request.method); found != script_->replies.end())
            reply = found->second;
        if (auto found = script_->gates.find(request.method); found != script_->gates.end())
            gate = found->second;
    }
    if (gate)
        gate->pass();
    if (reply)
        return reply(request);
    return Reply{json::value{{"method", request.method}}, std::nullopt};
}

std::optional<json::value> ScriptedBackend::pollNowPlaying(PollTicket poll)
{
    std::shared_ptr<Gate> gate;
    std::optional<json::value> reading;
    {
        std::lock_guard guard(script_->lock);
        ++script_->fullPolls;
        script_->pollTickets.push_back(poll);
        gate = script_->pollGate;
        if (!script_->readings.empty()) {
            reading = std::move(script_->readings.front());
            script_->readings.pop_front();
        }
    }
    if (gate)
        gate->pass();
    return reading;
}

bool ScriptedBackend::musicUsesLogicalQueue() noexcept
{
    std::lock_guard guard(script_->lock);
    return script_->logicalQueue;
}

void ScriptedBackend::readMusicNowPlaying(PollTicket poll) noexcept
{
    std::lock_guard guard(script_->lock);
    ++script_->lightReads;
    script_->pollTickets.push_back(poll);
}

void ScriptedBackend::endScans() noexcept
{
    std::lock_guard guard(script_->lock);
    ++script_->endScans;
    script_->handled.push_back(endScansMark);
}

PollTicket ScriptedBackend::issuePollTicket() noexcept
{
    std::lock_guard guard(script_->lock);
    return {script_->pollGeneration};
}

void ScriptedBackend::cancelPolls() noexcept
{
    std::lock_guard guard(script_->lock);
    ++script_->pollGeneration;
}

void ScriptedBackend::cancelRequests() noexcept
{
    std::lock_guard guard(script_->lock);
    ++script_->requestGeneration;
}

void ScriptedBackend::cancelAllScripts() noexcept
{
    std::lock_guard guard(script_->lock);
    ++script_->pollGeneration;
    ++script_->requestGeneration;
}

std::optional<json::value> ScriptedBackend::artworkChange() noexcept
{
    std::lock_guard guard(script_->lock);
    ++script_->artworkPolls;
    if (script_->artworkReadings.empty())
        return std::nullopt;
    auto reading = std::move(script_->artworkReadings.front());
    script_->artworkReadings.pop_front();
    return reading;
}

void ScriptedBackend::setArtworkArrivalHandler(std::function<void()> handler)
{
    std::lock_guard guard(script_->lock);
    script_->artworkArrival = std::move(handler);
}

void BackendScript::artworkArrived()
{
    std::thread([this] {
        std::lock_guard guard(lock);
        if (artworkArrival)
            artworkArrival();
    }).join();
}

BridgeHarness::BridgeHarness()
{
    bridge = std::make_unique<NativeBridge>(std::make_unique<ScriptedBackend>(backend),
                                            BridgeServices{loop, clock, defaults, haptics, power, [this] {
                                                               ++terminations;
                                                           }});
    bridge->attach(&view, &window);
}

BridgeHarness::~BridgeHarness()
{
    // Whatever a test left waiting at a gate must not hold up the queue's join.
    std::lock_guard guard(backend->lock);
    for (auto &[method, gate] : backend->gates)
        gate->release();
    if (backend->pollGate)
        backend->pollGate->release();
}

void BridgeHarness::send(const json::value &body, const MessageOrigin &origin)
{
    bridge->receiveMessage(json::serialize(body), origin);
}

void BridgeHarness::send(std::string_view method, std::string_view id, json::object params)
{
    send(json::value{{"method", method}, {"version", 1}, {"id", id}, {"params", std::move(params)}});
}

void BridgeHarness::settle()
{
    ASSERT_TRUE(loop.runUntil([&] { return bridge->requestsInFlight() == 0; }));
}

std::vector<BridgeHarness::Call> BridgeHarness::calls() const
{
    std::vector<Call> parsed;
    for (const auto &line : view.lines)
        parsed.push_back(parseCall(line));
    return parsed;
}

std::vector<BridgeHarness::Call> BridgeHarness::callsTo(std::string_view function) const
{
    std::vector<Call> matching;
    for (auto &call : calls())
        if (call.function == function)
            matching.push_back(std::move(call));
    return matching;
}

std::size_t BridgeHarness::answerCount(std::string_view id) const
{
    std::size_t count = 0;
    for (const auto &call : callsTo("resolve"))
        count += call.id == id;
    return count;
}

json::value BridgeHarness::answerTo(std::string_view id) const
{
    std::optional<json::value> found;
    for (auto &call : callsTo("resolve")) {
        if (call.id != id)
            continue;
        EXPECT_FALSE(found) << "answered twice: " << id;
        found = std::move(call.payload);
    }
    EXPECT_TRUE(found) << "never answered: " << id;
    return found ? *found : json::value();
}

namespace {

// The JavaScript string literal the bridge writes inside JSON.parse(...): the JSON text with a
// backslash before each quote and backslash.
std::string unescapeParsedArgument(std::string_view literal)
{
    std::string text;
    for (std::size_t i = 0; i < literal.size(); ++i) {
        if (literal[i] == '\\' && i + 1 < literal.size())
            ++i;
        text += literal[i];
    }
    return text;
}

json::value parseArgument(std::string_view argument)
{
    constexpr std::string_view parsedPrefix = "JSON.parse(\"";
    if (argument.starts_with(parsedPrefix) && argument.ends_with("\")"))
        return json::parse(unescapeParsedArgument(
            argument.substr(parsedPrefix.size(), argument.size() - parsedPrefix.size() - 2)));
    return json::parse(argument);
}

// The length of the JSON string literal at the start of `text`.
std::size_t stringLiteralLength(std::string_view text)
{
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] == '\\')
            ++i;
        else if (text[i] == '"')
            return i + 1;
    }
    return std::string_view::npos;
}

} // namespace

BridgeHarness::Call parseCall(const std::string &line)
{
    constexpr std::string_view prefix = "window.veltoNative?.";
    BridgeHarness::Call call;
    EXPECT_EQ(line.find_first_of("\n\r"), std::string::npos) << line;
    EXPECT_EQ(line.find("\xE2\x80\xA8"), std::string::npos) << line;
    EXPECT_EQ(line.find("\xE2\x80\xA9"), std::string::npos) << line;
    if (!line.starts_with(prefix) || !line.ends_with(");")) {
        ADD_FAILURE() << "not a call of the page: " << line;
        return call;
    }
    std::string_view rest(line);
    rest = rest.substr(prefix.size(), rest.size() - prefix.size() - 2);
    auto open = rest.find('(');
    call.function = rest.substr(0, open);
    std::string_view arguments = rest.substr(open + 1);
    try {
        if (call.function == "resolve") {
            auto length = stringLiteralLength(arguments);
            call.id = json::value_to<std::string>(json::parse(arguments.substr(0, length)));
            arguments.remove_prefix(length);
            EXPECT_TRUE(arguments.starts_with(", ")) << line;
            arguments.remove_prefix(2);
        }
        call.payload = parseArgument(arguments);
    } catch (const std::exception &error) {
        ADD_FAILURE() << "unreadable call (" << error.what() << "): " << line;
    }
    return call;
}

} // namespace wheelbox::test
