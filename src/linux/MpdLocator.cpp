#include "linux/MpdLocator.hpp"

#include "lib/mpd/MpdProbe.hpp"
#include "platform/AutomationTool.hpp"

#include <cstdlib>
#include <stdexcept>

namespace wheelbox {
namespace {

std::optional<std::string> variable(const char *name)
{
    const char *value = std::getenv(name);
    if (!value || !*value)
        return std::nullopt;
    return std::string(value);
}

bool greets(const mpd::MpdAddress &address)
{
    return mpd::answers(address, MpdLocator::probeTimeout);
}

} // namespace

MpdLocator::Settings MpdLocator::settingsFromEnvironment()
{
    std::optional<std::filesystem::path> runtime;
    if (auto directory = variable("XDG_RUNTIME_DIR"))
        runtime = *directory;
    return Settings{variable("MPD_HOST"), variable("MPD_PORT"), runtime, greets};
}

std::vector<mpd::MpdAddress>
MpdLocator::candidates(const std::optional<std::filesystem::path> &runtimeDirectory)
{
    std::vector<mpd::MpdAddress> addresses;
    // Only an absolute folder: a relative one would name a socket wherever the program started.
    if (runtimeDirectory && runtimeDirectory->is_absolute())
        addresses.push_back({(*runtimeDirectory / "mpd" / "socket").string(), 0, std::nullopt});
    addresses.push_back({"/run/mpd/socket", 0, std::nullopt});
    addresses.push_back({"localhost", 6600, std::nullopt});
    return addresses;
}

MpdLocator::Choice MpdLocator::locate(const Settings &settings)
{
    if (settings.mpdHost || settings.mpdPort)
        return {Choice::Source::environment,
                mpd::parseMpdAddress(settings.mpdHost.value_or(""), settings.mpdPort.value_or(""))};
    for (auto &address : candidates(settings.runtimeDirectory)) {
        if (settings.answers && settings.answers(address))
            return {Choice::Source::found, address};
    }
    return {Choice::Source::none, {}};
}

MpdLocator::Choice MpdLocator::chooseForProgram(const mpd::MpdAddress &whenNoneAnswers)
{
    Choice choice = locate(settingsFromEnvironment());
    if (choice.source == Choice::Source::none)
        choice.address = whenNoneAnswers;
    if (choice.source == Choice::Source::environment)
        return choice;
    auto host = hostVariable(choice.address);
    auto port = portVariable(choice.address);
    ::setenv("MPD_HOST", host.c_str(), 1);
    setAutomationToolVariable("MPD_HOST", host);
    // MPD_PORT is unset here, or the choice would have come from the environment.
    if (!port.empty()) {
        ::setenv("MPD_PORT", port.c_str(), 1);
        setAutomationToolVariable("MPD_PORT", port);
    }
    return choice;
}

std::string MpdLocator::hostVariable(const mpd::MpdAddress &address)
{
    if (address.host.empty() || address.host.find('\0') != std::string::npos)
        throw std::invalid_argument("An MPD host must be a name, an address or a socket path");
    if (!address.password)
        return address.host;
    // Clients split at the first "@", so the password cannot hold one; the host after it may
    // (an abstract socket).
    if (address.password->empty() ||
        address.password->find_first_of(std::string_view("@\0", 2)) != std::string::npos)
        throw std::invalid_argument("An MPD password in MPD_HOST cannot be empty or hold \"@\"");
    return *address.password + "@" + address.host;
}

std::string MpdLocator::portVariable(const mpd::MpdAddress &address)
{
    return address.port == 0 ? std::string() : std::to_string(address.port);
}

} // namespace wheelbox
