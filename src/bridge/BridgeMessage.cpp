#include "bridge/BridgeMessage.hpp"
#include "lib/json/ExactJSON.hpp"

namespace wheelbox {
namespace json = boost::json;

namespace {

bool isFirmwareOrigin(const MessageOrigin &origin) noexcept
{
    return origin.protocol == "velto" && origin.host == "app";
}

bool isVersionOne(const json::value *version) noexcept
{
    if (!version)
        return false;
    if (const auto *number = version->if_int64())
        return *number == 1;
    if (const auto *number = version->if_uint64())
        return *number == 1;
    return false;
}

} // namespace

std::optional<BridgeMessage> checkBridgeMessage(std::string_view bodyJSON, const MessageOrigin &origin)
{
    if (!isFirmwareOrigin(origin) || bodyJSON.size() > maximumBodyBytes)
        return std::nullopt;

    json::parse_options options;
    options.max_depth = maximumBodyDepth;
    json::error_code error;
    // Read exactly: Boost.JSON alone makes NaN of "0e400", which no range check would stop.
    json::value body = parseExactJSON(bodyJSON, error, options);
    auto *object = error ? nullptr : body.if_object();
    if (!object)
        return std::nullopt;

    const auto *method = object->if_contains("method");
    if (!method || !method->is_string() || method->get_string().size() > maximumMethodBytes)
        return std::nullopt;
    if (!isVersionOne(object->if_contains("version")))
        return std::nullopt;

    BridgeMessage message;
    message.method = method->get_string();
    if (auto *params = object->if_contains("params"); params && params->is_object())
        message.params = std::move(params->get_object());
    if (message.method == hapticMethod)
        return message;

    const auto *id = object->if_contains("id");
    if (!id || !id->is_string() || id->get_string().empty() || id->get_string().size() > maximumIDBytes)
        return std::nullopt;
    message.id = id->get_string();
    return message;
}

} // namespace wheelbox
