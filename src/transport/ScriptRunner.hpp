#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
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

    // Cancellation, thread-safe: called from one thread while scripts run on another. A runner
    // whose scripts cannot be cancelled (a table of answers) keeps these defaults.

    // The poll generation now in force.
    virtual std::uint64_t pollGeneration() noexcept { return 0; }
    // Runs `poll` here with every script it runs marked as a script of the poll `generation`.
    virtual void runAsPoll(std::uint64_t /*generation*/, const std::function<void()> &poll) { poll(); }
    // Ends the scripts of every poll generation so far.
    virtual void cancelPolls() noexcept {}
    // Ends the scripts running now that are not polls'.
    virtual void cancelRequests() noexcept {}
    virtual void cancelAll() noexcept {}
};

// Runs scripts through AppleScript::run and AppleScript::start, so they take part in the runner's
// cancellations. Stateless and thread-safe.
class ToolScriptRunner final : public ScriptRunner {
  public:
    std::optional<std::string> run(std::string_view script, int timeoutSeconds) override;
    std::unique_ptr<StartedScript> start(std::string_view script, int timeoutSeconds) override;
    std::uint64_t pollGeneration() noexcept override;
    void runAsPoll(std::uint64_t generation, const std::function<void()> &poll) override;
    void cancelPolls() noexcept override;
    void cancelRequests() noexcept override;
    void cancelAll() noexcept override;
};

} // namespace wheelbox
