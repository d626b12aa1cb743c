#include "window/PageOrigin.hpp"

#include "web/ResourceURL.hpp"

namespace wheelbox {

MessageOrigin messageOriginOfPage(std::string_view pageURL)
{
    MessageOrigin origin;
    if (auto url = parseResourceURL(pageURL)) {
        origin.protocol = url->scheme;
        origin.host = url->host.value_or("");
    }
    return origin;
}

} // namespace wheelbox
