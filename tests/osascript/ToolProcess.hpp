#pragma once

#include <functional>
#include <map>
#include <string>
#include <sys/types.h>

// Runs the built wheelbox-osascript as the app does: program on standard input, argument "-".
namespace wheelbox::osascript::test {

struct ToolResult {
    int exitStatus = -1;
    std::string output;
    std::string error;
};

struct ToolOptions {
    // Another copy of the tool; the built one when empty.
    std::string executable;
    // Called once the tool runs and before it has its program, e.g. to limit it.
    std::function<void(pid_t)> started;
};

// `environment` entries are added to (or, with an empty value, removed from) this process's.
ToolResult runTool(const std::string &program, const std::map<std::string, std::string> &environment = {},
                   const ToolOptions &options = {});

} // namespace wheelbox::osascript::test
