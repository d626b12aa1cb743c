#pragma once

#include "web/WebResourceError.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wheelbox {

// What a firmware file goes out with: not an HTTP response, just the type and length.
struct SchemeResponse {
    std::string url; // as requested
    std::string mimeType;
    std::uint64_t expectedContentLength = 0;
    std::optional<std::string> textEncodingName;
};

// One request of the web view under the "velto" scheme. The handler reads the request once, at
// start, on the main thread; it answers with either response, data and finish, in this order, or
// one failure, or nothing at all after the task was stopped. Every call is made on the main
// thread.
class SchemeTask {
  public:
    virtual ~SchemeTask() = default;

    virtual std::optional<std::string> requestURL() const = 0;
    virtual std::optional<std::string> requestMethod() const = 0;

    virtual void didReceiveResponse(const SchemeResponse &response) = 0;
    // The whole file in one piece.
    virtual void didReceiveData(std::vector<std::byte> data) = 0;
    virtual void didFinish() = 0;
    virtual void didFailWithError(const WebResourceError &error) = 0;
};

} // namespace wheelbox
