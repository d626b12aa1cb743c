// The back end of wheelbox-bridge's test build: answers from memory, so the console's own
// behaviour is tested without MPD or a player. Its effects that the bridge does not show go to
// standard error as "# fake: ..." lines.
#include "ConsoleBackEnd.hpp"

#include "bridge/BridgeError.hpp"

#include <boost/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace wheelbox {
namespace {
namespace json = boost::json;

std::int64_t integer(const json::object &params, std::string_view key, std::int64_t fallback)
{
    const auto *value = params.if_contains(key);
    return value && value->is_int64() ? value->get_int64() : fallback;
}

json::object songRow(std::int64_t number, std::string title)
{
    char id[40];
    std::snprintf(id, sizeof id, "music-track:%016llX", static_cast<unsigned long long>(0x1000 + number));
    return {{"id", id},
            {"title", std::move(title)},
            {"kind", "track"},
            {"hasChildren", false},
            {"playable", true}};
}

class FakeBackend final : public MediaBackend {
  public:
    Reply handle(const Request &request) override
    {
        const auto &method = request.method;
        const auto &params = request.params;
        if (method == "ready")
            return {json::value{{"bridgeVersion", 1},
                                {"transport", "system"},
                                {"volume", 50.0},
                                {"nowPlaying", {{"title", "Fake Song"}}}},
                    std::nullopt};
        if (method == "getSettings")
            return {json::value{{"transport", "system"}, {"volume", 50.0}}, std::nullopt};
        if (method == "getList") {
            // "count" songs; "hostile" adds one whose title came from a badly tagged file.
            json::array items;
            auto count = std::clamp<std::int64_t>(integer(params, "count", 3), 0, 200'000);
            for (std::int64_t i = 0; i < count; ++i)
                items.push_back(songRow(i, "Song " + std::to_string(i + 1)));
            if (params.contains("hostile"))
                items.push_back(songRow(count, "Caf\xE9 \xE2\x80\xA8 </script>\n\"\\"));
            return {json::value{{"id", "music/songs"}, {"title", "Songs"}, {"items", std::move(items)}},
                    std::nullopt};
        }
        if (method == "fakeSlow") {
            auto milliseconds = std::clamp<std::int64_t>(integer(params, "milliseconds", 100), 0, 5'000);
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
            return {json::value{{"slept", milliseconds}}, std::nullopt};
        }
        throw BridgeError::unknownMethod(method);
    }

    std::optional<json::value> pollNowPlaying(PollTicket) override
    {
        return json::value{{"title", "Fake Song"}, {"poll", ++polls_}};
    }

    bool musicUsesLogicalQueue() noexcept override { return false; }
    void readMusicNowPlaying(PollTicket) noexcept override {}
    // The fake runs no scripts, so there is nothing to cancel.
    PollTicket issuePollTicket() noexcept override { return {}; }
    void cancelPolls() noexcept override {}
    void cancelRequests() noexcept override {}
    void cancelAllScripts() noexcept override {}
    std::optional<boost::json::value> artworkChange() noexcept override { return std::nullopt; }
    void setArtworkArrivalHandler(std::function<void()>) override {}

    void endScans() noexcept override
    {
        std::fputs("# fake: scans ended\n", stderr);
        std::fflush(stderr);
    }

  private:
    std::int64_t polls_ = 0;
};

} // namespace

ConsoleBackEnd makeConsoleBackEnd(const Clock &)
{
    return {std::make_unique<InMemoryUserDefaults>(), std::make_unique<FakeBackend>()};
}

} // namespace wheelbox
