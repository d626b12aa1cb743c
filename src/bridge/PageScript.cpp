#include "bridge/PageScript.hpp"

#include "bridge/PageJSON.hpp"

#include <boost/json/object.hpp>

#include <algorithm>
#include <cmath>

namespace wheelbox::PageScript {
namespace {

constexpr std::string_view callPrefix = "window.veltoNative?.";

std::string begin(std::string_view function)
{
    std::string line;
    line.reserve(96);
    line += callPrefix;
    line += function;
    line += '(';
    return line;
}

// Appends JSON.parse("…") of a payload (JSON text). The text is already one line with every
// control character, U+2028 and U+2029 escaped, so as a JavaScript string literal only its quotes
// and backslashes need a backslash.
void appendParsed(std::string &line, std::string_view payload)
{
    auto escapes = static_cast<std::size_t>(
        std::count_if(payload.begin(), payload.end(), [](char c) { return c == '"' || c == '\\'; }));
    line.reserve(line.size() + payload.size() + escapes + 32);
    line += "JSON.parse(\"";
    std::size_t clean = 0;
    for (std::size_t at = 0; at < payload.size(); ++at) {
        char c = payload[at];
        if (c != '"' && c != '\\')
            continue;
        line.append(payload, clean, at - clean);
        line += '\\';
        clean = at;
    }
    line.append(payload, clean, payload.size() - clean);
    line += "\")";
}

// Ends the line whose payload (JSON text) starts at `payloadStart`; a long payload becomes
// JSON.parse("…").
void end(std::string &line, std::size_t payloadStart)
{
    std::string_view payload(line.data() + payloadStart, line.size() - payloadStart);
    if (payload.size() > parsedPayloadThreshold) {
        std::string parsed(line, 0, payloadStart);
        appendParsed(parsed, payload);
        line = std::move(parsed);
    }
    line += ");";
}

std::string beginResolve(std::string_view idJSON)
{
    std::string line = begin("resolve");
    line += idJSON;
    line += ", ";
    return line;
}

// The answer to `id` with its payload (JSON text): a line, or past the threshold the arguments of
// resolveFunctionBody, so the long text is never copied into script source.
PageCall resolve(std::string_view id, std::string payload)
{
    std::string idJSON;
    appendPageJSONString(idJSON, id);
    if (payload.size() > parsedPayloadThreshold) {
        PageFunctionCall call{resolveFunctionBody, {}};
        call.arguments.push_back({std::string(resolveIdArgument), std::move(idJSON)});
        call.arguments.push_back({std::string(resolvePayloadArgument), std::move(payload)});
        return call;
    }
    std::string line = beginResolve(idJSON);
    line += payload;
    line += ");";
    return line;
}

bool isResolveCall(const PageFunctionCall &call)
{
    return call.body == resolveFunctionBody && call.arguments.size() == 2 &&
           call.arguments[0].name == resolveIdArgument && call.arguments[1].name == resolvePayloadArgument;
}

std::string lineOfCall(const PageFunctionCall &call)
{
    if (isResolveCall(call)) {
        std::string line = beginResolve(call.arguments[0].text);
        appendParsed(line, call.arguments[1].text);
        line += ");";
        return line;
    }
    std::string line = "(async (";
    for (const auto &argument : call.arguments) {
        if (&argument != &call.arguments.front())
            line += ", ";
        line += argument.name;
    }
    line += ") => { ";
    line += call.body;
    line += " })(";
    for (const auto &argument : call.arguments) {
        if (&argument != &call.arguments.front())
            line += ", ";
        appendPageJSONString(line, argument.text);
    }
    line += ");";
    return line;
}

} // namespace

void send(BridgeWebView &webView, PageCall call)
{
    if (auto *line = std::get_if<std::string>(&call))
        webView.evaluateJavaScript(*line);
    else
        webView.callFunction(std::move(std::get<PageFunctionCall>(call)));
}

std::string asLine(PageCall call)
{
    if (auto *line = std::get_if<std::string>(&call))
        return std::move(*line);
    return lineOfCall(std::get<PageFunctionCall>(call));
}

std::optional<PageCall> resolveWithResult(std::string_view id,
                                          const std::optional<boost::json::value> &result)
{
    std::string payload;
    if (result) {
        // Written around the result rather than built as an object, so a large list is never copied.
        payload += "{\"result\":";
        if (!appendPageJSON(payload, *result))
            return std::nullopt;
        payload += '}';
    } else {
        payload += "{}";
    }
    return resolve(id, std::move(payload));
}

PageCall resolveWithError(std::string_view id, std::string_view text)
{
    std::string payload = "{\"error\":";
    appendPageJSONString(payload, text);
    payload += '}';
    return resolve(id, std::move(payload));
}

std::optional<std::string> nowPlaying(const boost::json::value &payload)
{
    std::string line = begin("nowPlaying");
    std::size_t payloadStart = line.size();
    if (!appendPageJSON(line, payload))
        return std::nullopt;
    end(line, payloadStart);
    return line;
}

std::string battery(const BatteryReading &reading)
{
    // A reading is finite and within 0...1 by construction; a broken source must still not break
    // the line.
    double level = std::isfinite(reading.level) ? reading.level : 0.0;
    std::string line = begin("battery");
    std::size_t payloadStart = line.size();
    appendPageJSON(line, boost::json::object{{"level", level}, {"charging", reading.charging}});
    end(line, payloadStart);
    return line;
}

} // namespace wheelbox::PageScript
