#include "lib/mpd/MpdSongTitle.hpp"

#include <algorithm>

namespace wheelbox::mpd {
namespace {

// "http://…", "nfs://…": a letter, then letters, digits, "+", "-" or ".", then "://".
std::size_t schemeLength(std::string_view uri) noexcept
{
    auto isLetter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    };
    if (uri.empty() || !isLetter(uri.front()))
        return 0;
    for (std::size_t i = 1; i < uri.size(); ++i) {
        char c = uri[i];
        if (uri.substr(i).starts_with("://"))
            return i + 3;
        if (!isLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.')
            return 0;
    }
    return 0;
}

// The last part of a path that is not empty; empty when there is none.
std::string_view lastPart(std::string_view path) noexcept
{
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view withoutExtension(std::string_view name) noexcept
{
    auto dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return name;
    auto stem = name.substr(0, dot);
    auto extension = name.substr(dot + 1);
    bool hidden = stem.find_first_not_of('.') == std::string_view::npos;
    bool spaced = extension.find_first_of(" \t") != std::string_view::npos;
    if (hidden || extension.empty() || spaced)
        return name;
    return stem;
}

// As MPD shows tags: a control character is a space. A title travels in lines and in replies
// whose fields control characters separate.
std::string printable(std::string_view text)
{
    std::string result(text);
    std::replace_if(
        result.begin(), result.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7f'; }, ' ');
    return result;
}

std::string_view fileName(std::string_view uri) noexcept
{
    if (auto scheme = schemeLength(uri)) {
        auto rest = uri.substr(scheme);
        rest = rest.substr(0, std::min(rest.find('?'), rest.find('#')));
        auto slash = rest.find('/');
        auto host = rest.substr(0, slash);
        // Never a password from "user:password@host".
        if (auto at = host.rfind('@'); at != std::string_view::npos)
            host.remove_prefix(at + 1);
        auto name = slash == std::string_view::npos ? std::string_view() : lastPart(rest.substr(slash));
        return name.empty() ? host : withoutExtension(name);
    }
    auto name = lastPart(uri);
    return name.empty() ? uri : withoutExtension(name);
}

} // namespace

std::string songFileTitle(std::string_view uri)
{
    return printable(fileName(uri));
}

} // namespace wheelbox::mpd
