#include "MprisModule.hpp"

#include "Errors.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace wheelbox::osascript {
namespace {

[[noreturn]] void notRunning(const char *why, const char *detail)
{
    std::fprintf(stderr, "wheelbox-osascript: the Spotify module %s: %s\n", why, detail ? detail : "");
    throw ApplicationError("Application isn’t running.", errorNumber::applicationNotRunning);
}

std::int64_t milliseconds(std::chrono::milliseconds timeout) noexcept
{
    return timeout.count();
}

// Runs one module function; a failure comes back as its number and message.
template <typename Function> void check(Function &&function)
{
    WheelboxMprisFailure failure{};
    if (!function(&failure)) {
        failure.message[sizeof failure.message - 1] = '\0';
        throw ApplicationError(failure.message, failure.number);
    }
}

std::optional<std::string> text(const char *value)
{
    return value ? std::optional<std::string>(value) : std::nullopt;
}

} // namespace

std::unique_ptr<MprisModule> MprisModule::load(const std::string &busName)
{
    char path[4096];
    auto length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        notRunning("cannot be found", std::strerror(errno));
    std::string module(path, static_cast<std::size_t>(length));
    module = module.substr(0, module.rfind('/') + 1) + "wheelbox-osascript-spotify.so";
    // Never closed: the player lives until the tool exits.
    void *handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        notRunning("cannot be loaded", ::dlerror());
    auto entry =
        reinterpret_cast<WheelboxMprisFunctionsEntry>(::dlsym(handle, WHEELBOX_MPRIS_FUNCTIONS_SYMBOL));
    if (!entry)
        notRunning("has no entry point", ::dlerror());
    const WheelboxMprisFunctions *functions = entry();
    if (!functions || functions->abiVersion != WHEELBOX_MPRIS_ABI_VERSION)
        notRunning("was built for another version of the tool", module.c_str());
    WheelboxMpris *player = nullptr;
    check([&](WheelboxMprisFailure *failure) {
        player = functions->open(busName.c_str(), failure);
        return player != nullptr;
    });
    return std::unique_ptr<MprisModule>(new MprisModule(*functions, player));
}

MprisModule::~MprisModule()
{
    functions_.close(player_);
}

MprisPlayerState MprisModule::read(std::chrono::milliseconds timeout)
{
    WheelboxMprisState raw{};
    check([&](WheelboxMprisFailure *failure) {
        return functions_.read(player_, milliseconds(timeout), &raw, failure);
    });
    struct Release {
        const WheelboxMprisFunctions &functions;
        WheelboxMprisState &state;
        ~Release() { functions.freeState(&state); }
    } release{functions_, raw};

    MprisPlayerState state;
    state.playbackStatus = text(raw.playbackStatus);
    state.loopStatus = text(raw.loopStatus);
    if (raw.hasVolume)
        state.volume = raw.volume;
    if (raw.hasShuffle)
        state.shuffle = raw.shuffle != 0;
    state.positionMicroseconds = raw.positionMicroseconds;
    if (raw.hasTrack) {
        auto value = [](const char *field) {
            return field ? std::string(field) : std::string();
        };
        state.track = MprisTrack{value(raw.trackID),    raw.trackIDIsObjectPath != 0,
                                 value(raw.url),        value(raw.title),
                                 value(raw.artist),     value(raw.album),
                                 raw.lengthMicroseconds};
    }
    return state;
}

void MprisModule::call(const char *method, std::chrono::milliseconds timeout)
{
    check([&](WheelboxMprisFailure *failure) {
        return functions_.call(player_, milliseconds(timeout), method, failure);
    });
}

void MprisModule::setPosition(const std::string &trackPath, std::int64_t microseconds,
                              std::chrono::milliseconds timeout)
{
    check([&](WheelboxMprisFailure *failure) {
        return functions_.setPosition(player_, milliseconds(timeout), trackPath.c_str(), microseconds,
                                      failure);
    });
}

void MprisModule::seek(std::int64_t offsetMicroseconds, std::chrono::milliseconds timeout)
{
    check([&](WheelboxMprisFailure *failure) {
        return functions_.seek(player_, milliseconds(timeout), offsetMicroseconds, failure);
    });
}

void MprisModule::setVolume(double volume, std::chrono::milliseconds timeout)
{
    check([&](WheelboxMprisFailure *failure) {
        return functions_.setVolume(player_, milliseconds(timeout), volume, failure);
    });
}

void MprisModule::setShuffle(bool shuffle, std::chrono::milliseconds timeout)
{
    check([&](WheelboxMprisFailure *failure) {
        return functions_.setShuffle(player_, milliseconds(timeout), shuffle ? 1 : 0, failure);
    });
}

void MprisModule::setLoopStatus(const char *status, std::chrono::milliseconds timeout)
{
    check([&](WheelboxMprisFailure *failure) {
        return functions_.setLoopStatus(player_, milliseconds(timeout), status, failure);
    });
}

} // namespace wheelbox::osascript
