#pragma once

#include <filesystem>
#include <optional>

// Where the platform's script tool lives: the program that reads one AppleScript program from
// standard input (argument "-"), prints its result and reports failures on standard error.
namespace wheelbox {

// The installed tool beside the program (<prefix>/libexec/wheelbox-osascript, found from the running
// executable); else the one in the build tree; else the installed path, which then fails to start.
// An override set below wins. Thread-safe.
std::filesystem::path automationToolPath();

// Points every later script run at another executable (tests use a fake of their own);
// std::nullopt goes back to the platform's tool.
void overrideAutomationToolPath(std::optional<std::filesystem::path> path);

} // namespace wheelbox
