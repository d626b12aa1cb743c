#pragma once

#include "transport/ScriptError.hpp"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// The one road to the players: every script runs in a child process of the platform's script tool
// (platform/AutomationTool.hpp), inside a timeout block and under a hard deadline. A process-wide
// registry of running scripts, guarded by one lock that is never held while waiting, lets two kinds
// of cancellation end scripts that have become stale:
// - a polling script (run on a thread that carries a poll tag) dies when a newer poll generation is
//   announced;
// - any script that registers after the request generation moved on is refused, and a running
//   non-polling script is killed when it moves on.
// Every operation is thread-safe; a run blocks only its own thread.
namespace wheelbox::AppleScript {

// A script started with start() that keeps running after the call returns. A cheap handle: copies
// refer to the same script. Dropping every handle does not stop the script; its process is still
// reaped and unregistered when it ends.
class RunningScript {
  public:
    struct State;
    explicit RunningScript(std::shared_ptr<State> state) noexcept : state_(std::move(state)) {}

    // Terminates the script and waits up to `grace` for it to end; if it has not, kills it and waits
    // one more second. True when it has ended.
    bool stop(std::chrono::nanoseconds grace = std::chrono::seconds(1)) const;
    bool hasEnded() const;

  private:
    std::shared_ptr<State> state_;
};

// Runs one script and waits for it: its standard output without trailing line breaks, or nothing
// when that is empty or not UTF-8. Blocks for at most max(timeoutSeconds, 1) + 1 seconds, plus up to
// 2 seconds to end a process that overran. Throws ScriptError.
std::optional<std::string> run(std::string_view script, int timeoutSeconds);

// Starts one script without waiting for it; its output is discarded. Throws ScriptError.
RunningScript start(std::string_view script, int timeoutSeconds);

// Each advances its generation(s) and terminates the scripts it makes stale: polling, non-polling,
// or every script.
void cancelPollingScripts();
void cancelRequestScripts();
void cancelAllScripts();

struct CancellationSnapshot {
    std::uint64_t requestGeneration = 0;
    std::optional<std::uint64_t> pollTag;

    bool operator==(const CancellationSnapshot &) const = default;
};

// What a run records when it begins: the request generation and this thread's poll tag.
CancellationSnapshot cancellationSnapshot();

// The poll generation now in force; a poll stores it as its thread's poll tag.
std::uint64_t currentPollGeneration();

// Marks the scripts this thread runs while the scope lives as polling scripts of `generation`, and
// restores the previous tag (or none) when it ends. Only the bridge's poll sets a tag.
class PollTagScope {
  public:
    explicit PollTagScope(std::uint64_t generation) noexcept;
    ~PollTagScope();
    PollTagScope(const PollTagScope &) = delete;
    PollTagScope &operator=(const PollTagScope &) = delete;

  private:
    std::optional<std::uint64_t> previous_;
};

// The number of registered scripts; for diagnostics and tests.
std::size_t registeredScriptCount();

// The exact text sent to the tool: the script inside a "with timeout of n seconds" block, n being
// max(timeoutSeconds, 1); only the script's first line gains the two-space indent.
std::string timeoutWrapped(std::string_view script, int timeoutSeconds);

// A failed script's standard error as the user should read it: the message after "execution error: "
// without the error number the tool appends, or a generic text when nothing is left.
std::string cleanErrorMessage(std::string_view standardError);

} // namespace wheelbox::AppleScript
