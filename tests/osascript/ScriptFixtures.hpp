#pragma once

#include "transport/AppleScript.hpp"
#include "transport/ScriptText.hpp"

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

// The players' scripts as the app sends them: a template from scripts/ with its ⟦slots⟧ filled
// by values escaped and wrapped in the timeout block by the app's own functions.
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

// Text for the inside of a string literal, escaped as the app escapes it.
inline std::string quote(std::string_view text)
{
    return escapeAppleScriptString(text);
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
    return AppleScript::timeoutWrapped(script, seconds);
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
