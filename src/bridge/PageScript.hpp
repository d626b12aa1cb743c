#pragma once

#include "bridge/BridgeHost.hpp"
#include "platform/PowerSource.hpp"

#include <boost/json/value.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

// Every line of JavaScript the bridge evaluates in the page, and every function it calls there, is
// made here: the answer to a request and the two pushes. Each line is one line (no line terminator
// of any kind inside) of valid UTF-8, whatever the ids and payloads hold, and so is each argument.
// They are built whole, on any thread, so a large answer is written once, on the media queue.
namespace wheelbox::PageScript {

// Payloads whose JSON text is longer than this are passed as JSON.parse("…") of the text rather
// than as an object literal; the page receives the same object either way. Measured in WebKitGTK
// (bench/bridge/answer-forms.py): past a few KiB the parsed form is never slower, and for a list
// of 100,000 songs it is more than ten times faster; below, both take well under a millisecond
// and the literal stays readable.
inline constexpr std::size_t parsedPayloadThreshold = 4096;

// An answer whose payload is longer than parsedPayloadThreshold is not written into a line but
// passed to this function: the id and the payload as JSON text, the id too because it may hold NUL,
// which an argument cannot carry. The page receives the same id and object as from the line.
inline constexpr std::string_view resolveFunctionBody =
    "window.veltoNative?.resolve(JSON.parse(id), JSON.parse(payload));";
inline constexpr std::string_view resolveIdArgument = "id";
inline constexpr std::string_view resolvePayloadArgument = "payload";

// One line to evaluate, or a function to call.
using PageCall = std::variant<std::string, PageFunctionCall>;

void send(BridgeWebView &webView, PageCall call);
// The one line that does in the page what `call` does; a call of resolveFunctionBody reads as the
// line of a short answer, its payload in JSON.parse("…").
std::string asLine(PageCall call);

// window.veltoNative?.resolve(<id>, {"result":<result>}); or with {} when there is no result.
// Nothing when the result cannot be written as JSON.
std::optional<PageCall> resolveWithResult(std::string_view id,
                                          const std::optional<boost::json::value> &result);
// window.veltoNative?.resolve(<id>, {"error":<text>});
PageCall resolveWithError(std::string_view id, std::string_view text);
// window.veltoNative?.nowPlaying(<payload>); nothing when the payload cannot be written as JSON.
std::optional<std::string> nowPlaying(const boost::json::value &payload);
// window.veltoNative?.battery({"level":<0...1>,"charging":<bool>});
std::string battery(const BatteryReading &reading);

} // namespace wheelbox::PageScript
