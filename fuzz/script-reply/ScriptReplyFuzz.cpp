// What the players print, as the transports read it: the reply helpers, the Spotify now-playing
// reply, and both transports driven through a script runner that answers every script with the
// next reply of the input.
//
// Input: an operation list, then the replies, each piece separated by ASCII 29 (group separator,
// which no reply uses). A reply that begins with ASCII 21 fails with the rest as its error text.
#include "FuzzCheck.hpp"
#include "platform/RandomSource.hpp"
#include "platform/UserDefaults.hpp"
#include "support/FakeRunningApplications.hpp"
#include "support/ManualClock.hpp"
#include "transport/MusicAppTransport.hpp"
#include "transport/ScriptError.hpp"
#include "transport/ScriptReply.hpp"
#include "transport/ScriptRunner.hpp"
#include "transport/SpotifyScripts.hpp"
#include "transport/SystemNowPlayingTransport.hpp"
#include "transport/TransportError.hpp"

#include <cmath>
#include <cstdint>
#include <deque>
#include <string_view>

namespace {

using namespace wheelbox;

class ReplyingRunner final : public ScriptRunner {
  public:
    explicit ReplyingRunner(std::deque<std::string_view> replies) : replies_(std::move(replies)) {}

    std::optional<std::string> run(std::string_view, int) override
    {
        if (replies_.empty())
            return std::nullopt;
        auto reply = replies_.front();
        replies_.pop_front();
        if (reply.starts_with('\x15'))
            throw ScriptError::failed(std::string(reply.substr(1)));
        return std::string(reply);
    }

    std::unique_ptr<StartedScript> start(std::string_view script, int timeoutSeconds) override
    {
        run(script, timeoutSeconds);
        return std::make_unique<Started>();
    }

  private:
    struct Started final : StartedScript {
        bool stop(std::chrono::nanoseconds) override { return true; }
    };
    std::deque<std::string_view> replies_;
};

void checkReading(const NowPlayingState &state)
{
    WHEELBOX_FUZZ_CHECK(std::isfinite(state.elapsed) && std::isfinite(state.duration));
    WHEELBOX_FUZZ_CHECK(state.queuePosition.has_value() == state.queueCount.has_value());
    if (state.queuePosition)
        WHEELBOX_FUZZ_CHECK(*state.queuePosition >= 1 && *state.queuePosition <= *state.queueCount);
}

void checkHelpers(std::string_view reply)
{
    for (char separator : {'\x1f', '\x1e'}) {
        auto pieces = scriptReply::split(reply, separator);
        std::string joined;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            if (i)
                joined += separator;
            joined += pieces[i];
        }
        WHEELBOX_FUZZ_CHECK(joined == reply);
    }
    if (auto number = scriptReply::decimal(reply))
        WHEELBOX_FUZZ_CHECK(std::isfinite(*number));
    if (scriptReply::integer(reply))
        WHEELBOX_FUZZ_CHECK(!reply.empty());
    if (auto state = spotifyScripts::parseNowPlaying(reply)) {
        WHEELBOX_FUZZ_CHECK(state->source == "system");
        checkReading(*state);
    }
}

QueueStart queueStart()
{
    std::vector<std::string> ids{"00000000000000A1", "00000000000000A2", "00000000000000A3"};
    return {.volume = 50,
            .window = ids,
            .windowIndex = 1,
            .chosenID = ids[1],
            .repeatMode = "All",
            .queue = ids,
            .queuePosition = 1,
            .canonical = ids,
            .canonicalIndices = {0, 1, 2},
            .shuffle = false,
            .restore = std::nullopt};
}

// One operation; the errors a transport reports to the worker are expected, anything else is not.
template <typename Operation> void expectingTransportErrors(Operation &&operation)
{
    try {
        operation();
    } catch (const ScriptError &) {
    } catch (const TransportError &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char *>(data), size);
    auto pieces = scriptReply::split(input, '\x1d');
    std::string_view operations = pieces.front();
    std::deque<std::string_view> replies(pieces.begin() + 1, pieces.end());
    for (auto reply : replies)
        checkHelpers(reply);

    ReplyingRunner runner(replies);
    test::FakeRunningApplications applications;
    applications.spotifyRuns = true;
    InMemoryUserDefaults defaults;
    test::ManualClock clock;
    SeededRandomSource random(1);
    MusicAppTransport music(runner, applications, defaults, clock, random);
    SystemNowPlayingTransport system(music, runner, applications, clock);

    // Bounded, so an input cannot buy more than a few hundred script runs.
    for (char operation : operations.substr(0, 64)) {
        clock.advance(std::chrono::milliseconds(700));
        switch (operation) {
        case 'n':
            checkReading(music.nowPlaying());
            break;
        case 'N':
            checkReading(system.nowPlaying());
            break;
        case 'q':
            expectingTransportErrors([&] { music.playQueue(queueStart()); });
            break;
        case 'k':
            expectingTransportErrors([&] { music.skip(1); });
            break;
        case 'b':
            expectingTransportErrors([&] { music.skip(-1); });
            break;
        case 'K':
            expectingTransportErrors([&] { system.skip(1); });
            break;
        case 'p':
            expectingTransportErrors([&] { system.playPause(); });
            break;
        case 's':
            expectingTransportErrors([&] { music.seek(30); });
            break;
        case 'f':
            expectingTransportErrors([&] { system.beginSeek(1); });
            break;
        case 'e':
            expectingTransportErrors([&] { system.endSeek(); });
            break;
        case 'v':
            if (auto volume = system.volume())
                WHEELBOX_FUZZ_CHECK(std::isfinite(*volume));
            break;
        case 'V':
            if (auto volume = music.volume())
                WHEELBOX_FUZZ_CHECK(std::isfinite(*volume));
            break;
        case 'h':
            expectingTransportErrors([&] { music.setShuffle(true); });
            break;
        case 'H':
            expectingTransportErrors([&] { system.setShuffle(false); });
            break;
        case 't':
            expectingTransportErrors(
                [&] { music.playItem("music-track:00000000000000A2", false, "One", 40); });
            break;
        default:
            break;
        }
    }
    return 0;
}
