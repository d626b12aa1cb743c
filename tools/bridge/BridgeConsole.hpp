#pragma once

#include "ConsoleBackEnd.hpp"
#include "StandardInputLines.hpp"
#include "bridge/NativeBridge.hpp"
#include "linux/GLibMainLoop.hpp"
#include "linux/LinuxPowerSource.hpp"
#include "platform/HapticPerformer.hpp"

#include <boost/json/value.hpp>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>

namespace wheelbox {

// wheelbox-bridge: the real bridge over a back end, driven by text. Standard input gives one
// message body (JSON) per line, as the firmware posts it from velto://app/index.html, or a control
// line: {"$navigate": URL} (a new page: the session reset, and later messages come from that
// page's origin), {"$visible": bool} (the window's visibility, for the polls), {"$wait": seconds}
// (let the loop run that long before the next line). Standard output gets every line of
// JavaScript the bridge evaluates, and each function it calls as the one line that does the same,
// flushed at once; standard error the other effects ("# haptic",
// "# window level 3", "# terminate") and the lines it skipped. At the end of input, or after
// "quit", it waits until no request is queued, running or undelivered, runs the waiting session
// reset and ends with status 0.
//
// The console stands in for the device's web view, window and haptic performer. Main thread only.
class BridgeConsole final : public BridgeWebView, public BridgeWindow, public HapticPerformer {
  public:
    static constexpr std::string_view startPage = "velto://app/index.html";

    BridgeConsole(GLibMainLoop &loop, ConsoleBackEnd backEnd, const std::filesystem::path &powerSupply,
                  std::FILE *output = stdout, std::FILE *effects = stderr);
    ~BridgeConsole() override;

    // Runs until the input has ended (or "quit") and everything is answered. The exit status.
    int run();

    void evaluateJavaScript(const std::string &script) override;
    void callFunction(PageFunctionCall call) override;
    int level() const override { return level_; }
    void setLevel(int level) override;
    bool isVisibleOnScreen() const override { return visible_; }
    void performAlignmentTap() override;

  private:
    StandardInputLines::Flow handleLine(std::string_view line, std::size_t number);
    StandardInputLines::Flow control(const std::string &key, const boost::json::value &value,
                                     std::size_t number);
    void report(const std::string &text);
    void skip(std::size_t number, std::string_view why);
    void finish();

    GLibMainLoop &loop_;
    std::FILE *output_;
    std::FILE *effects_;
    std::unique_ptr<UserDefaults> defaults_;
    LinuxPowerSource powerSource_;
    int level_;
    bool visible_ = true;
    MessageOrigin origin_;
    bool finishing_ = false;
    std::unique_ptr<NativeBridge> bridge_;
    std::unique_ptr<MainLoop::Timer> wait_;
    std::unique_ptr<StandardInputLines> input_;
};

} // namespace wheelbox
