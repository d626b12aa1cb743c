#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace wheelbox {

// Why the bridge itself failed a request. Each case carries the method name; what() is the text
// the firmware receives as the answer's "error". An answer that cannot be written as JSON (a
// non-finite number) fails with unencodableAnswer rather than leaving the firmware waiting.
class BridgeError : public std::runtime_error {
  public:
    enum class Kind {
        cancelledRequest,
        missingParameter,
        expiredRequest,
        supersededRequest,
        unknownMethod,
        unencodableAnswer
    };

    BridgeError(Kind kind, std::string_view method)
        : std::runtime_error(std::string(prefix(kind)).append(method)), kind_(kind), method_(method)
    {}

    static BridgeError cancelledRequest(std::string_view method) { return {Kind::cancelledRequest, method}; }
    static BridgeError missingParameter(std::string_view method) { return {Kind::missingParameter, method}; }
    static BridgeError expiredRequest(std::string_view method) { return {Kind::expiredRequest, method}; }
    static BridgeError supersededRequest(std::string_view method)
    {
        return {Kind::supersededRequest, method};
    }
    static BridgeError unknownMethod(std::string_view method) { return {Kind::unknownMethod, method}; }
    static BridgeError unencodableAnswer(std::string_view method)
    {
        return {Kind::unencodableAnswer, method};
    }

    Kind kind() const noexcept { return kind_; }
    const std::string &method() const noexcept { return method_; }
    std::string description() const { return what(); }

  private:
    static std::string_view prefix(Kind kind) noexcept
    {
        switch (kind) {
        case Kind::cancelledRequest:
            return "Cancelled native request: ";
        case Kind::missingParameter:
            return "Missing parameter: ";
        case Kind::expiredRequest:
            return "Expired native request: ";
        case Kind::supersededRequest:
            return "Superseded native request: ";
        case Kind::unknownMethod:
            return "Unknown native method: ";
        case Kind::unencodableAnswer:
            return "Unencodable native answer: ";
        }
        return {};
    }

    Kind kind_;
    std::string method_;
};

} // namespace wheelbox
