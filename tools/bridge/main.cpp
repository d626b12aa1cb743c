// wheelbox-bridge: talk to Wheelbox's back end by hand, or from a test, without a window. See
// BridgeConsole.hpp for what goes in and what comes out.
#include "BridgeConsole.hpp"
#include "lib/posix/BrokenPipe.hpp"
#include "platform/AutomationTool.hpp"
#include "platform/Clock.hpp"

#include <cstdio>
#include <exception>
#include <string_view>

int main(int argc, char **argv)
{
    wheelbox::posix::ignoreBrokenPipes();
    // The script tool's environment is taken while this is the only thread.
    wheelbox::captureAutomationToolEnvironment();
    std::filesystem::path powerSupply = "/sys/class/power_supply";
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (argument == "--power-supply" && i + 1 < argc) {
            powerSupply = argv[++i];
        } else {
            std::fprintf(stderr, "usage: wheelbox-bridge [--power-supply DIR]\n");
            return 2;
        }
    }
    try {
        wheelbox::GLibMainLoop loop;
        wheelbox::BridgeConsole console(loop, wheelbox::makeConsoleBackEnd(wheelbox::Clock::system()),
                                        powerSupply);
        return console.run();
    } catch (const std::exception &error) {
        std::fprintf(stderr, "wheelbox-bridge: %s\n", error.what());
        return 1;
    }
}
