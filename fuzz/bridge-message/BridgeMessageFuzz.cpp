// The firmware's message body as the bridge checks it, and the parameters as the worker reads them.
#include "FuzzCheck.hpp"
#include "bridge/BridgeMessage.hpp"
#include "lib/icu/Unicode.hpp"
#include "worker/RequestParameters.hpp"

#include <cmath>
#include <cstdint>
#include <string_view>

namespace {

using namespace wheelbox;

void checkParameter(const boost::json::object &params, std::string_view key)
{
    const auto *value = params.if_contains(key);
    auto text = requestParameters::string(params, key);
    auto number = requestParameters::number(params, key);
    auto integer = requestParameters::integer(params, key);

    WHEELBOX_FUZZ_CHECK(text.has_value() == (value && value->is_string()));
    WHEELBOX_FUZZ_CHECK(number.has_value() == (value && value->is_number()));
    // JSON has no NaN; a number out of range is an infinity, never a NaN.
    WHEELBOX_FUZZ_CHECK(!number || !std::isnan(*number));
    if (integer) {
        // An integer is a number, the same one, and whole.
        WHEELBOX_FUZZ_CHECK(number);
        WHEELBOX_FUZZ_CHECK(std::isfinite(*number) && *number == std::trunc(*number));
        WHEELBOX_FUZZ_CHECK(static_cast<double>(*integer) == *number);
    } else if (number && std::isfinite(*number) && *number == std::trunc(*number)) {
        // A whole number that is no integer is out of the 64-bit range.
        WHEELBOX_FUZZ_CHECK(std::fabs(*number) >= 9223372036854775807.0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string_view body(reinterpret_cast<const char *>(data), size);

    static const MessageOrigin firmware{"velto", "app"};
    auto message = checkBridgeMessage(body, firmware);
    if (!message)
        return 0;

    WHEELBOX_FUZZ_CHECK(body.size() <= maximumBodyBytes);
    WHEELBOX_FUZZ_CHECK(message->method.size() <= maximumMethodBytes);
    WHEELBOX_FUZZ_CHECK(wheelbox::icu::isValidUTF8(message->method));
    WHEELBOX_FUZZ_CHECK(wheelbox::icu::isValidUTF8(message->id));
    if (message->method == hapticMethod) {
        WHEELBOX_FUZZ_CHECK(message->id.empty());
    } else {
        WHEELBOX_FUZZ_CHECK(!message->id.empty() && message->id.size() <= maximumIDBytes);
    }

    // The same body from anywhere else is dropped.
    for (const MessageOrigin &foreign :
         {MessageOrigin{"https", "app"}, MessageOrigin{"velto", "App"}, MessageOrigin{"velto", ""}}) {
        WHEELBOX_FUZZ_CHECK(!checkBridgeMessage(body, foreign));
    }

    for (const auto &entry : message->params)
        checkParameter(message->params, entry.key());
    for (std::string_view key : {"path", "id", "index", "volume", "position", "direction", "enabled", "mode"})
        checkParameter(message->params, key);
    return 0;
}
