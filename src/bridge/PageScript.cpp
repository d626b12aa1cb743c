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

// Ends the line whose payload (JSON text) starts at `payloadStart`. A long payload becomes
// JSON.parse("…"): the text is already one line with every control character, U+2028 and U+2029
// escaped, so as a JavaScript string literal only its quotes and backslashes need a backslash.
void end(std::string &line, std::size_t payloadStart)
{
    std::string_view payload(line.data() + payloadStart, line.size() - payloadStart);
    if (payload.size() > parsedPayloadThreshold) {
        auto escapes = static_cast<std::size_t>(
            std::count_if(payload.begin(), payload.end(), [](char c) { return c == '"' || c == '\\'; }));
        std::string parsed;
        parsed.reserve(payloadStart + payload.size() + escapes + 32);
        parsed.append(line, 0, payloadStart);
        parsed += "JSON.parse(\"";
        std::size_t clean = 0;
        for (std::size_t at = 0; at < payload.size(); ++at) {
            char c = payload[at];
            if (c != '"' && c != '\\')
                continue;
            parsed.append(payload, clean, at - clean);
            parsed += '\\';
            clean = at;
        }
        parsed.append(payload, clean, payload.size() - clean);
        parsed += "\")";
        line = std::move(parsed);
    }
    line += ");";
}

std::string beginResolve(std::string_view id)
{
    std::string line = begin("resolve");
    appendPageJSONString(line, id);
    line += ", ";
    return line;
}

} // namespace

std::optional<std::string> resolveWithResult(std::string_view id,
                                             const std::optional<boost::json::value> &result)
{
    std::string line = beginResolve(id);
    std::size_t payloadStart = line.size();
    if (result) {
        // Written around the result rather than built as an object, so a large list is never copied.
        line += "{\"result\":";
        if (!appendPageJSON(line, *result))
            return std::nullopt;
        line += '}';
    } else {
        line += "{}";
    }
    end(line, payloadStart);
    return line;
}

std::string resolveWithError(std::string_view id, std::string_view text)
{
    std::string line = beginResolve(id);
    std::size_t payloadStart = line.size();
    line += "{\"error\":";
    appendPageJSONString(line, text);
    line += '}';
    end(line, payloadStart);
    return line;
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
