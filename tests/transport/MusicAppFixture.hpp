#pragma once

#include "platform/RandomSource.hpp"
#include "platform/UserDefaults.hpp"
#include "support/FakeRunningApplications.hpp"
#include "support/FakeScriptRunner.hpp"
#include "support/ManualClock.hpp"
#include "transport/MusicAppTransport.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

// A music transport over fakes: the scripts it sends are recorded and answered by a small model of
// the music app that tests set up with the helpers below.
namespace wheelbox::test {

inline constexpr char unitSeparator = '\x1f';
inline constexpr char recordSeparator = '\x1e';

// Fragments that tell the transport's scripts apart.
inline constexpr const char *nowPlayingScript = "set t to current track";
inline constexpr const char *queueStartScript = "make new user playlist";
inline constexpr const char *trackStartScript = "play item 1 of matches";
inline constexpr const char *pendingDeleteScript = "pendingMatches";
inline constexpr const char *oldDeleteScript = "oldMatches";
inline constexpr const char *volumeScript = "return sound volume as text";

inline std::string joined(const std::vector<std::string> &parts, char separator)
{
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i)
            text += separator;
        text += parts[i];
    }
    return text;
}

// The now-playing script's reply.
inline std::string nowPlayingReply(const std::string &id, double position, double duration,
                                   const std::string &state, const std::string &album = "Album")
{
    return joined(
        {id, "Title " + id, "Artist", album, std::to_string(position), std::to_string(duration), state},
        unitSeparator);
}

// The text between `open` and the next `close` after it, or "".
inline std::string between(const std::string &text, const std::string &open, const std::string &close,
                           std::size_t from = 0)
{
    auto start = text.find(open, from);
    if (start == std::string::npos)
        return "";
    start += open.size();
    auto end = text.find(close, start);
    return end == std::string::npos ? "" : text.substr(start, end - start);
}

// The IDs a queue start script asks for, in order (IDs without quotes).
inline std::vector<std::string> requestedIDs(const std::string &script)
{
    std::vector<std::string> ids;
    auto list = between(script, "set queueIDs to {", "}\n");
    for (std::size_t at = 0; (at = list.find('"', at)) != std::string::npos;) {
        auto end = list.find('"', at + 1);
        ids.push_back(list.substr(at + 1, end - at - 1));
        at = end + 1;
    }
    return ids;
}

class MusicAppFixture : public ::testing::Test {
  protected:
    void SetUp() override { makeTransport(); }

    void makeTransport() { transport.emplace(runner, applications, defaults, clock, random); }

    // Every now-playing read answers this reading from now on.
    void appPlays(const std::string &id, double position, double duration,
                  const std::string &state = "playing")
    {
        runner.answer(nowPlayingScript, nowPlayingReply(id, position, duration, state));
    }

    // Queue starts succeed: every requested track is copied and the chosen one plays. The playlist's
    // ID is "PL-" + its name.
    void queueStartsSucceed()
    {
        runner.on(queueStartScript, [](const FakeScriptRunner::Call &call) -> std::optional<std::string> {
            auto name = between(call.script, "{name:\"", "\"}");
            auto ids = requestedIDs(call.script);
            return joined({"PL-" + name, name, "queue", "1", joined(ids, unitSeparator)}, recordSeparator);
        });
    }

    // Track starts succeed, and the started track then plays from its start.
    void trackStartsPlay()
    {
        runner.on(trackStartScript, [this](const FakeScriptRunner::Call &call) -> std::optional<std::string> {
            appPlays(between(call.script, "persistent ID is \"", "\""), 0.1, 100);
            return std::nullopt;
        });
    }

    // Starts a followed queue over `ids` at `position` (repeat and shuffle as given), with the
    // chosen track then playing at `elapsed` of a 100 s track; the calls it made are forgotten.
    void startQueue(const std::vector<std::string> &ids, std::size_t position,
                    const std::string &repeat = "Off", double elapsed = 10)
    {
        queueStartsSucceed();
        trackStartsPlay();
        std::vector<std::int64_t> indices;
        for (std::size_t i = 0; i < ids.size(); ++i)
            indices.push_back(static_cast<std::int64_t>(i));
        transport->playQueue({.volume = 50,
                              .window = ids,
                              .windowIndex = static_cast<std::int64_t>(position),
                              .chosenID = ids[position],
                              .repeatMode = repeat,
                              .queue = ids,
                              .queuePosition = static_cast<std::int64_t>(position),
                              .canonical = ids,
                              .canonicalIndices = indices,
                              .shuffle = false,
                              .restore = std::nullopt});
        appPlays(ids[position], elapsed, 100);
        transport->nowPlaying();
        runner.clearCalls();
    }

    // The one queue start script sent since the calls were last cleared; fails the test without one.
    std::string sentQueueStart() const
    {
        std::string found;
        for (const auto &script : runner.scripts()) {
            if (script.find(queueStartScript) != std::string::npos) {
                EXPECT_TRUE(found.empty()) << "more than one queue start";
                found = script;
            }
        }
        EXPECT_FALSE(found.empty()) << "no queue start";
        return found;
    }

    FakeScriptRunner runner;
    FakeRunningApplications applications;
    InMemoryUserDefaults defaults;
    ManualClock clock;
    SeededRandomSource random{20240601};
    std::optional<MusicAppTransport> transport;
};

} // namespace wheelbox::test
