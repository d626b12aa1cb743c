// The texts the runner sends and the error texts it passes on.
#include "transport/AppleScript.hpp"

#include "lib/icu/TextPattern.hpp"
#include "lib/icu/Unicode.hpp"

#include <algorithm>

namespace wheelbox::AppleScript {

std::string timeoutWrapped(std::string_view script, int timeoutSeconds)
{
    std::string text = "with timeout of ";
    text += std::to_string(std::max(timeoutSeconds, 1));
    text += " seconds\n  ";
    text += script;
    text += "\nend timeout";
    return text;
}

std::string cleanErrorMessage(std::string_view standardError)
{
    constexpr std::string_view genericFailure = "The music player couldn’t complete the request.";
    std::string_view text = standardError;
    constexpr std::string_view marker = "execution error: ";
    if (auto found = text.find(marker); found != std::string_view::npos)
        text.remove_prefix(found + marker.size());
    text = icu::trimWhitespace(text);
    // The error number the tool appends.
    static const icu::TextPattern errorNumber(R"(\s+\(-?\d+\)\s*$)");
    if (auto match = errorNumber.find(text))
        text = text.substr(0, match->first);
    return std::string(text.empty() ? genericFailure : text);
}

} // namespace wheelbox::AppleScript
