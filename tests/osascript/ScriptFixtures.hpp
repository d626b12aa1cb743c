#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

// The players' scripts as the app sends them: a template from scripts/ with its ⟦slots⟧ filled
// by escaped values, wrapped in the timeout block the script runner adds.
namespace wheelbox::osascript::test {

inline std::string loadScript(std::string_view name)
{
    auto path = std::filesystem::path(WHEELBOX_OSASCRIPT_FIXTURES) / (std::string(name) + ".applescript");
    std::ifstream input(path);
    if (!input)
        throw std::runtime_error("missing script fixture " + path.string());
    std::ostringstream text;
    text << input.rdbuf();
    std::string script = text.str();
    while (!script.empty() && script.back() == '\n')
        script.pop_back();
    return script;
}

// Text for the inside of a string literal: backslashes doubled, then quotes escaped.
inline std::string quote(std::string_view text)
{
    std::string escaped;
    for (char c : text) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '"')
            escaped += "\\\"";
        else
            escaped += c;
    }
    return escaped;
}

inline std::string fill(std::string script, const std::map<std::string, std::string> &slots)
{
    for (const auto &[slot, value] : slots) {
        std::string marker = "⟦" + slot + "⟧";
        for (auto at = script.find(marker); at != std::string::npos;
             at = script.find(marker, at + value.size()))
            script.replace(at, marker.size(), value);
    }
    if (script.find("⟦") != std::string::npos)
        throw std::runtime_error("unfilled slot in " + script);
    return script;
}

inline std::string wrapInTimeout(std::string_view script, int seconds)
{
    return "with timeout of " + std::to_string(seconds) + " seconds\n  " + std::string(script) +
           "\nend timeout";
}

inline std::string script(std::string_view name, const std::map<std::string, std::string> &slots = {},
                          int timeout = 8)
{
    return wrapInTimeout(fill(loadScript(name), slots), timeout);
}

// One line of a file that holds several one-line scripts.
inline std::string scriptLine(std::string_view name, int line,
                              const std::map<std::string, std::string> &slots = {}, int timeout = 8)
{
    std::istringstream lines(loadScript(name));
    std::string text;
    for (int i = 0; i <= line; ++i)
        std::getline(lines, text);
    return wrapInTimeout(fill(text, slots), timeout);
}

// The settings lines the app puts into the track and queue starts.
inline std::string settingsBlock(std::string_view volume, std::string_view repeat)
{
    return "set sound volume to " + std::string(volume) +
           "\nset shuffle enabled to false\nset song repeat to " + std::string(repeat);
}

} // namespace wheelbox::osascript::test
