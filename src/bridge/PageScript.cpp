#include "bridge/PageScript.hpp"

#include "bridge/PageJSON.hpp"

#include <boost/json/object.hpp>

#include <cmath>

namespace wheelbox::PageScript {
namespace {

// The JSON text as a JavaScript string literal inside JSON.parse(...). The text is already one
// line with every control character, U+2028 and U+2029 escaped, so only its quotes and
// backslashes need a backslash of their own.
std::string parsedFrom(std::string_view jsonText)
{
    std::string out;
    out.reserve(jsonText.size() + jsonText.size() / 8 + 16);
    out += "JSON.parse(\"";
    std::size_t clean = 0;
    for (std::size_t at = 0; at < jsonText.size(); ++at) {
        char c = jsonText[at];
        if (c != '"' && c != '\\')
            continue;
        out.append(jsonText, clean, at - clean);
        out += '\\';
        clean = at;
    }
    out.append(jsonText, clean, jsonText.size() - clean);
    out += "\")";
    return out;
}

std::string argumentFor(std::string jsonText)
{
    return jsonText.size() > parsedArgumentThreshold ? parsedFrom(jsonText) : jsonText;
}

// window.veltoNative?.<function>(<first>, <second>); or with one argument when `second` is empty.
std::string call(std::string_view function, std::string_view first, std::string_view second = {})
{
    std::string line;
    line.reserve(first.size() + second.size() + 40);
    line += "window.veltoNative?.";
    line += function;
    line += '(';
    line += first;
    if (!second.empty()) {
        line += ", ";
        line += second;
    }
    line += ");";
    return line;
}

} // namespace

std::optional<std::string> argument(const boost::json::value &value)
{
    auto text = toPageJSON(value);
    if (!text)
        return std::nullopt;
    return argumentFor(std::move(*text));
}

std::optional<std::string> resultArgument(const std::optional<boost::json::value> &result)
{
    if (!result)
        return std::string("{}");
    // Written around the result rather than built as an object, so a large list is never copied.
    std::string text = "{\"result\":";
    if (!appendPageJSON(text, *result))
        return std::nullopt;
    text += '}';
    return argumentFor(std::move(text));
}

std::string errorArgument(std::string_view text)
{
    std::string json = "{\"error\":";
    appendPageJSONString(json, text);
    json += '}';
    return argumentFor(std::move(json));
}

std::string resolve(std::string_view id, std::string_view payloadArgument)
{
    std::string idArgument;
    appendPageJSONString(idArgument, id);
    return call("resolve", idArgument, payloadArgument);
}

std::string nowPlaying(std::string_view payloadArgument)
{
    return call("nowPlaying", payloadArgument);
}

std::string battery(const BatteryReading &reading)
{
    // A reading is finite and within 0...1 by construction; a broken source must still not break the line.
    double level = std::isfinite(reading.level) ? reading.level : 0.0;
    boost::json::object payload{{"level", level}, {"charging", reading.charging}};
    return call("battery", *argument(payload));
}

} // namespace wheelbox::PageScript
