#pragma once

#include <map>
#include <string>

// Runs the built wheelbox-osascript as the app does: program on standard input, argument "-".
namespace wheelbox::osascript::test {

struct ToolResult {
    int exitStatus = -1;
    std::string output;
    std::string error;
};

// `environment` entries are added to (or, with an empty value, removed from) this process's.
ToolResult runTool(const std::string &program, const std::map<std::string, std::string> &environment = {});

} // namespace wheelbox::osascript::test
