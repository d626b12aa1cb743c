#include "transport/ScriptRunner.hpp"

#include "transport/AppleScript.hpp"

namespace wheelbox {
namespace {

class ToolStartedScript final : public StartedScript {
  public:
    explicit ToolStartedScript(AppleScript::RunningScript script) : script_(std::move(script)) {}

    bool stop(std::chrono::nanoseconds grace) override { return script_.stop(grace); }

  private:
    AppleScript::RunningScript script_;
};

} // namespace

std::optional<std::string> ToolScriptRunner::run(std::string_view script, int timeoutSeconds)
{
    return AppleScript::run(script, timeoutSeconds);
}

std::unique_ptr<StartedScript> ToolScriptRunner::start(std::string_view script, int timeoutSeconds)
{
    return std::make_unique<ToolStartedScript>(AppleScript::start(script, timeoutSeconds));
}

std::uint64_t ToolScriptRunner::pollGeneration() noexcept
{
    return AppleScript::currentPollGeneration();
}

void ToolScriptRunner::runAsPoll(std::uint64_t generation, const std::function<void()> &poll)
{
    AppleScript::PollTagScope tag(generation);
    poll();
}

void ToolScriptRunner::cancelPolls() noexcept
{
    AppleScript::cancelPollingScripts();
}

void ToolScriptRunner::cancelRequests() noexcept
{
    AppleScript::cancelRequestScripts();
}

void ToolScriptRunner::cancelAll() noexcept
{
    AppleScript::cancelAllScripts();
}

} // namespace wheelbox
