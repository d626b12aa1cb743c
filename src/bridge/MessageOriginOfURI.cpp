#include "bridge/MessageOriginOfURI.hpp"

#include <algorithm>
#include <cctype>

namespace wheelbox {
namespace {

std::string lowercase(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

bool isScheme(std::string_view text)
{
    auto isSchemeCharacter = [](unsigned char c) {
        return std::isalnum(c) || c == '+' || c == '-' || c == '.';
    };
    return !text.empty() && std::isalpha(static_cast<unsigned char>(text.front())) &&
           std::all_of(text.begin(), text.end(), isSchemeCharacter);
}

} // namespace

MessageOrigin messageOriginOfURI(std::string_view uri, bool isMainFrame)
{
    MessageOrigin origin;
    origin.isMainFrame = isMainFrame;
    auto colon = uri.find(':');
    if (colon == std::string_view::npos || !isScheme(uri.substr(0, colon)))
        return origin;
    origin.protocol = lowercase(uri.substr(0, colon));

    std::string_view rest = uri.substr(colon + 1);
    if (!rest.starts_with("//"))
        return origin;
    std::string_view authority = rest.substr(2, rest.find_first_of("/?#", 2) - 2);
    if (auto at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    if (authority.starts_with('[')) {
        // An IPv6 literal keeps its brackets; its colons are not a port.
        authority = authority.substr(0, authority.find(']') + 1);
    } else if (auto port = authority.rfind(':'); port != std::string_view::npos) {
        authority = authority.substr(0, port);
    }
    origin.host = lowercase(authority);
    return origin;
}

} // namespace wheelbox
