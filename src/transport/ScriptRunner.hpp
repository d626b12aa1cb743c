#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace wheelbox {

// A script that keeps running after start() returned, until it ends by itself or is stopped.
class StartedScript {
  public:
    virtual ~StartedScript() = default;

    // Terminates the script and waits up to `grace` for it to end; if it has not, kills it and waits
    // one more second. True when it has ended.
    virtual bool stop(std::chrono::nanoseconds grace) = 0;
};

// The seam between the transports and the script runner (transport/AppleScript.hpp): the program
// runs the platform's script tool through ToolScriptRunner; unit tests answer from a table.
class ScriptRunner {
  public:
    virtual ~ScriptRunner() = default;

    // Runs one complete script and waits for it: its output without trailing line breaks, or
    // nothing. Throws ScriptError.
    virtual std::optional<std::string> run(std::string_view script, int timeoutSeconds) = 0;

    // Starts one script without waiting for it; its output is discarded. Throws ScriptError.
    virtual std::unique_ptr<StartedScript> start(std::string_view script, int timeoutSeconds) = 0;
};

// Runs scripts through AppleScript::run and AppleScript::start, so they take part in the runner's
// cancellations. Stateless and thread-safe.
class ToolScriptRunner final : public ScriptRunner {
  public:
    std::optional<std::string> run(std::string_view script, int timeoutSeconds) override;
    std::unique_ptr<StartedScript> start(std::string_view script, int timeoutSeconds) override;
};

} // namespace wheelbox
