#include "platform/AutomationTool.hpp"

#include <mutex>
#include <system_error>
#include <unistd.h>

namespace wheelbox {
namespace {

// WHEELBOX_AUTOMATION_TOOL_FROM_BINDIR: the tool relative to the installed program's folder.
// WHEELBOX_AUTOMATION_TOOL_IN_BUILD_TREE: the tool as built, for runs from the build folder.
#ifndef WHEELBOX_AUTOMATION_TOOL_FROM_BINDIR
#define WHEELBOX_AUTOMATION_TOOL_FROM_BINDIR "../libexec/wheelbox-osascript"
#endif
#ifndef WHEELBOX_AUTOMATION_TOOL_IN_BUILD_TREE
#define WHEELBOX_AUTOMATION_TOOL_IN_BUILD_TREE ""
#endif

std::mutex overrideLock;
std::optional<std::filesystem::path> overridePath;

bool isExecutable(const std::filesystem::path &path)
{
    return ::access(path.c_str(), X_OK) == 0 && !std::filesystem::is_directory(path);
}

std::filesystem::path installedPath()
{
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    return (self.parent_path() / WHEELBOX_AUTOMATION_TOOL_FROM_BINDIR).lexically_normal();
}

std::filesystem::path platformPath()
{
    std::filesystem::path installed = installedPath();
    if (!installed.empty() && isExecutable(installed))
        return installed;
    std::filesystem::path built = WHEELBOX_AUTOMATION_TOOL_IN_BUILD_TREE;
    if (!built.empty() && isExecutable(built))
        return built;
    return installed.empty() ? std::filesystem::path("wheelbox-osascript") : installed;
}

} // namespace

std::filesystem::path automationToolPath()
{
    {
        std::lock_guard lock(overrideLock);
        if (overridePath)
            return *overridePath;
    }
    // Looked up on every run: an update may install the tool while the program runs.
    return platformPath();
}

void overrideAutomationToolPath(std::optional<std::filesystem::path> path)
{
    std::lock_guard lock(overrideLock);
    overridePath = std::move(path);
}

} // namespace wheelbox
