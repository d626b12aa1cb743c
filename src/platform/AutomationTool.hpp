#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The platform's script tool: the program that reads one AppleScript program from standard input
// (argument "-"), prints its result and reports failures on standard error.
namespace wheelbox {

// The installed tool, <libexecdir>/wheelbox-osascript beside the running program; for a program
// run from the build tree, the tool built there. Always an absolute path. An override set below
// wins. Thread-safe.
std::filesystem::path automationToolPath();

// Points every later script run at another executable (tests use a fake of their own);
// std::nullopt goes back to the platform's tool.
void overrideAutomationToolPath(std::optional<std::filesystem::path> path);

// The environment every script tool starts with ("NAME=value" entries): the program's environment
// as it was when first captured, plus the variables set below. Children never see the process
// environment itself, so no worker thread reads it while another thread might change it.
//
// The app calls captureAutomationToolEnvironment() at start, before it starts any thread, and then
// setAutomationToolVariable() for what its tools need (MPD_HOST of the MPD it chose). Without the
// capture, the first script run takes the snapshot. Thread-safe.
void captureAutomationToolEnvironment();

// Sets `name` to `value` for every tool started from now on. Throws std::invalid_argument for an
// empty name, a name with "=" or NUL, or a value with NUL: the environment could not carry them.
void setAutomationToolVariable(std::string_view name, std::string_view value);

using AutomationToolEnvironment = std::vector<std::string>;

// The environment for the next tool; never changes once returned.
std::shared_ptr<const AutomationToolEnvironment> automationToolEnvironment();

} // namespace wheelbox
