#include "web/ResourceURL.hpp"

namespace wheelbox {
namespace {

bool isAlpha(char c) noexcept
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c) noexcept
{
    return c >= '0' && c <= '9';
}

int hexValue(char c) noexcept
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The host of an authority "user:password@host:port".
std::optional<std::string> hostOf(std::string_view authority)
{
    if (auto at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    if (!authority.empty() && authority.front() == '[') {
        auto close = authority.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        return std::string(authority.substr(0, close + 1));
    }
    return std::string(authority.substr(0, authority.find(':')));
}

} // namespace

std::optional<ResourceURL> parseResourceURL(std::string_view text)
{
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F)
            return std::nullopt;
    }
    auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isAlpha(text.front()))
        return std::nullopt;
    for (char c : text.substr(0, colon)) {
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.')
            return std::nullopt;
    }
    ResourceURL url;
    url.scheme = std::string(text.substr(0, colon));
    std::string_view rest = text.substr(colon + 1);
    rest = rest.substr(0, rest.find_first_of("?#"));
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        auto slash = rest.find('/');
        url.host = hostOf(rest.substr(0, slash));
        if (!url.host)
            return std::nullopt;
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
    }
    url.path = std::string(rest);
    return url;
}

std::optional<std::string> percentDecode(std::string_view text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t index = 0; index < text.size(); ++index) {
        if (text[index] != '%') {
            decoded += text[index];
            continue;
        }
        if (index + 2 >= text.size())
            return std::nullopt;
        int high = hexValue(text[index + 1]);
        int low = hexValue(text[index + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        decoded += static_cast<char>(high * 16 + low);
        index += 2;
    }
    return decoded;
}

bool isFirmwareURL(std::string_view text)
{
    auto url = parseResourceURL(text);
    return url && url->scheme == "velto" && url->host && *url->host == "app";
}

} // namespace wheelbox
