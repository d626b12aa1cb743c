#pragma once

#include <stdexcept>
#include <string>

namespace wheelbox {

// Why a script run failed. `details` is the complete message the user sees; for a failed script it
// is the player's own wording, so it passes up unchanged.
class ScriptError : public std::runtime_error {
  public:
    enum class Kind { cancelled, timedOut, failed };

    ScriptError(Kind kind, std::string details) : std::runtime_error(std::move(details)), kind_(kind) {}

    static ScriptError cancelled() { return {Kind::cancelled, "The macOS automation was cancelled."}; }
    static ScriptError timedOut() { return {Kind::timedOut, "The music player took too long to respond."}; }
    static ScriptError failed(std::string details) { return {Kind::failed, std::move(details)}; }
    static ScriptError couldNotStart() { return failed("Couldn’t start macOS automation."); }
    static ScriptError couldNotSend() { return failed("Couldn’t send macOS automation."); }
    static ScriptError endedEarly() { return failed("The music player ended the request."); }

    Kind kind() const noexcept { return kind_; }
    std::string details() const { return what(); }
    // The text the bridge reports; identical to details.
    std::string description() const { return what(); }

  private:
    Kind kind_;
};

} // namespace wheelbox
