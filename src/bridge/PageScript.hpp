#pragma once

#include "platform/PowerSource.hpp"

#include <boost/json/value.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Every line of JavaScript the bridge evaluates in the page, and nothing else, is made here: the
// answer to a request and the two pushes. Each is one line (no line terminator of any kind inside)
// of valid UTF-8, whatever the ids and payloads hold.
namespace wheelbox::PageScript {

// JSON texts longer than this are passed as JSON.parse("…") of the text rather than as an object
// literal. Measured in WebKitGTK (bench/bridge/answer-forms.py): past a few KiB the parse form is
// never slower, and for a list of 100,000 songs it is ten times faster or more; below, both take
// well under a millisecond and the literal stays readable.
inline constexpr std::size_t parsedArgumentThreshold = 4096;

// An argument expression for `value`: its JSON text, or JSON.parse of it when long. The page
// receives the same object either way. Nothing when the value cannot be written as JSON.
std::optional<std::string> argument(const boost::json::value &value);

// The argument for an answer's payload: {"result": result}, or {} without a result.
std::optional<std::string> resultArgument(const std::optional<boost::json::value> &result);
// The argument for a failed request's payload: {"error": text}.
std::string errorArgument(std::string_view text);

// window.veltoNative?.resolve(<id as a JSON string>, <payload>);
std::string resolve(std::string_view id, std::string_view payloadArgument);
// window.veltoNative?.nowPlaying(<payload>);
std::string nowPlaying(std::string_view payloadArgument);
// window.veltoNative?.battery({"level":<0...1>,"charging":<bool>});
std::string battery(const BatteryReading &reading);

} // namespace wheelbox::PageScript
