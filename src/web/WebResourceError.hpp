#pragma once

#include <stdexcept>
#include <string>

namespace wheelbox {

// Why a request for a firmware file failed: one of the URL error codes, or the error the file
// system reported (an errno value). The web view adapter hands it to WebKit.
class WebResourceError : public std::runtime_error {
  public:
    enum class Domain { url, fileSystem };
    enum URLCode : int {
        badURL = -1000,
        unsupportedURL = -1002,
        fileDoesNotExist = -1100,
        noPermissionsToReadFile = -1102,
    };

    static WebResourceError url(URLCode code);
    static WebResourceError fileSystem(int errorNumber);

    Domain domain() const noexcept { return domain_; }
    int code() const noexcept { return code_; }

    friend bool operator==(const WebResourceError &a, const WebResourceError &b) noexcept
    {
        return a.domain_ == b.domain_ && a.code_ == b.code_;
    }

  private:
    WebResourceError(Domain domain, int code, const std::string &message)
        : std::runtime_error(message), domain_(domain), code_(code)
    {}

    Domain domain_;
    int code_;
};

} // namespace wheelbox
