#include "web/WebResourceError.hpp"

#include <cstring>

namespace wheelbox {

WebResourceError WebResourceError::url(URLCode code)
{
    switch (code) {
    case badURL:
        return {Domain::url, code, "bad URL"};
    case unsupportedURL:
        return {Domain::url, code, "unsupported URL"};
    case fileDoesNotExist:
        return {Domain::url, code, "The requested file does not exist."};
    case noPermissionsToReadFile:
        return {Domain::url, code, "The requested file is outside the web interface."};
    }
    return {Domain::url, code, "bad URL"};
}

WebResourceError WebResourceError::fileSystem(int errorNumber)
{
    return {Domain::fileSystem, errorNumber, std::strerror(errorNumber)};
}

} // namespace wheelbox
