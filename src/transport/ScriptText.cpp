#include "transport/ScriptText.hpp"

namespace wheelbox {

std::string escapeAppleScriptString(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        if (c == '\\' || c == '"')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

} // namespace wheelbox
