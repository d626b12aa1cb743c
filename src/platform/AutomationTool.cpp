#include "platform/AutomationTool.hpp"

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

extern char **environ;

namespace wheelbox {
namespace {

// WHEELBOX_AUTOMATION_TOOL_INSTALLED: the tool where the installation puts it (absolute).
// WHEELBOX_AUTOMATION_TOOL_FROM_BINDIR: the same, relative to the installed program's folder.
// WHEELBOX_BUILD_TREE, WHEELBOX_AUTOMATION_TOOL_IN_BUILD_TREE: the build folder and the tool as
// built there, used only by programs that run from that folder.
#ifndef WHEELBOX_AUTOMATION_TOOL_INSTALLED
#define WHEELBOX_AUTOMATION_TOOL_INSTALLED "/usr/local/libexec/wheelbox-osascript"
#endif
#ifndef WHEELBOX_AUTOMATION_TOOL_FROM_BINDIR
#define WHEELBOX_AUTOMATION_TOOL_FROM_BINDIR "../libexec/wheelbox-osascript"
#endif
#ifndef WHEELBOX_BUILD_TREE
#define WHEELBOX_BUILD_TREE ""
#endif
#ifndef WHEELBOX_AUTOMATION_TOOL_IN_BUILD_TREE
#define WHEELBOX_AUTOMATION_TOOL_IN_BUILD_TREE ""
#endif

std::mutex overrideLock;
std::optional<std::filesystem::path> overridePath;

bool isInside(const std::filesystem::path &path, const std::filesystem::path &folder)
{
    auto [end, ignored] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return !folder.empty() && end == folder.end();
}

std::filesystem::path platformPath()
{
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !self.is_absolute())
        return WHEELBOX_AUTOMATION_TOOL_INSTALLED;
    // A program run where it was built uses the tool built with it; an installed one never looks
    // into a build folder that may hold anything by now.
    if (isInside(self.lexically_normal(), std::filesystem::path(WHEELBOX_BUILD_TREE).lexically_normal()))
        return WHEELBOX_AUTOMATION_TOOL_IN_BUILD_TREE;
    return (self.parent_path() / WHEELBOX_AUTOMATION_TOOL_FROM_BINDIR).lexically_normal();
}

struct EnvironmentState {
    std::mutex lock;
    // Replaced, never changed, so a run keeps the one it took.
    std::shared_ptr<const AutomationToolEnvironment> current;
};

EnvironmentState &environmentState()
{
    static EnvironmentState state;
    return state;
}

// Takes the snapshot unless there is one already. Called with the lock held.
void captureLocked(EnvironmentState &state)
{
    if (state.current)
        return;
    auto snapshot = std::make_shared<AutomationToolEnvironment>();
    for (char **entry = environ; entry && *entry; ++entry)
        snapshot->emplace_back(*entry);
    state.current = std::move(snapshot);
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

void captureAutomationToolEnvironment()
{
    auto &state = environmentState();
    std::lock_guard lock(state.lock);
    captureLocked(state);
}

void setAutomationToolVariable(std::string_view name, std::string_view value)
{
    if (name.empty() || name.find_first_of(std::string_view("=\0", 2)) != std::string_view::npos)
        throw std::invalid_argument("Not an environment variable name: " + std::string(name));
    if (value.find('\0') != std::string_view::npos)
        throw std::invalid_argument("An environment value cannot hold NUL");
    auto &state = environmentState();
    std::lock_guard lock(state.lock);
    captureLocked(state);
    auto next = std::make_shared<AutomationToolEnvironment>();
    std::string prefix = std::string(name) + "=";
    for (const auto &entry : *state.current) {
        if (!entry.starts_with(prefix))
            next->push_back(entry);
    }
    next->push_back(prefix + std::string(value));
    state.current = std::move(next);
}

std::shared_ptr<const AutomationToolEnvironment> automationToolEnvironment()
{
    auto &state = environmentState();
    std::lock_guard lock(state.lock);
    captureLocked(state);
    return state.current;
}

} // namespace wheelbox
