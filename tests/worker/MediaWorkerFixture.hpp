#pragma once

#include "library/LibraryTestSupport.hpp"
#include "model/MediaJSON.hpp"
#include "platform/Artwork.hpp"
#include "platform/RandomSource.hpp"
#include "platform/UserDefaults.hpp"
#include "support/FakeHostFacts.hpp"
#include "support/FakeRunningApplications.hpp"
#include "support/FakeScriptRunner.hpp"
#include "support/ManualClock.hpp"
#include "support/NowPlayingPrinter.hpp"
#include "transport/MusicAppFixture.hpp"
#include "worker/MediaWorker.hpp"

#include <gtest/gtest.h>

#include <map>
#include <memory>

// A media worker whose players are a fake script runner and whose library is a small JSON one.
namespace wheelbox::test {

// Four songs; the songs list sorts them Four, One, Three, Two.
inline constexpr const char *smallLibrary = R"({"songs": [
    {"id": "A1", "title": "One", "artist": "Band", "album": {"id": "B1", "title": "Record"}, "track": 1},
    {"id": "A2", "title": "Two", "artist": "Band", "album": {"id": "B1", "title": "Record"}, "track": 2},
    {"id": "A3", "title": "Three", "artist": "Band", "album": {"id": "B1", "title": "Record"}, "track": 3},
    {"id": "A4", "title": "Four", "artist": "Band", "album": {"id": "B1", "title": "Record"}, "track": 4}]})";
inline constexpr const char *trackA1 = "00000000000000A1";
inline constexpr const char *trackA2 = "00000000000000A2";
inline constexpr const char *trackA3 = "00000000000000A3";
inline constexpr const char *trackA4 = "00000000000000A4";

// Fragments that tell the players' scripts apart.
inline constexpr const char *musicReadingScript = "(persistent ID of t as text) & unitSeparator";
inline constexpr const char *spotifyReadingScript = "(spotify url of t as text) & unitSeparator";
inline constexpr const char *musicVolumeScript = "tell application \"Music\" to return sound volume as text";
inline constexpr const char *spotifyVolumeScript =
    "tell application \"Spotify\" to return sound volume as text";
inline constexpr const char *spotifyURL = "https://open.spotify.com/track/4uLU6hMCjMI75M1A2tKUQC";

inline std::string spotifyReply(const std::string &state)
{
    return joined({spotifyURL, "Song", "Artist", "Album", "12.5", "200.0", state}, unitSeparator);
}

using StoredDefaults = std::map<std::string, DefaultsValue, std::less<>>;

// The music app plays A1 at 30 s of 100 s, at volume 64; queue starts succeed; Spotify does not run.
struct WorkerRig {
    explicit WorkerRig(StoredDefaults stored = {}, ArtworkSource *artwork = nullptr)
        : defaults(std::move(stored))
    {
        runner.answer(musicReadingScript, nowPlayingReply(trackA1, 30, 100, "playing"));
        runner.answer(musicVolumeScript, "64");
        runner.on(queueStartScript, [](const FakeScriptRunner::Call &call) -> std::optional<std::string> {
            auto name = between(call.script, "{name:\"", "\"}");
            auto ids = requestedIDs(call.script);
            return joined({"PL-" + name, name, "queue", "1", joined(ids, unitSeparator)}, recordSeparator);
        });
        applications.spotifyRuns = false;
        worker = std::make_unique<MediaWorker>(
            MediaWorkerServices{.runner = runner,
                                .applications = applications,
                                .defaults = defaults,
                                .clock = clock,
                                .random = random,
                                .host = host,
                                .makeLibrarySource =
                                    [this] {
                                        ++librarySourcesMade;
                                        auto source = std::make_unique<ChangingLibrarySource>(smallLibrary);
                                        librarySource = source.get();
                                        return source;
                                    },
                                .collationLocale = "",
                                .artwork = artwork});
    }

    Reply handle(const std::string &method, boost::json::object params = {})
    {
        return worker->handle({method, std::move(params)});
    }

    // The music app's reading of A1, as the given transport reports it.
    static NowPlayingState musicReading(const std::string &source = "music")
    {
        NowPlayingState state;
        state.source = source;
        state.persistentID = trackA1;
        state.title = std::string("Title ") + trackA1;
        state.artist = "Artist";
        state.album = "Album";
        state.elapsed = 30;
        state.duration = 100;
        state.isPlaying = true;
        return state;
    }

    void spotifyPlays(const std::string &state = "playing")
    {
        applications.spotifyRuns = true;
        runner.answer(spotifyReadingScript, spotifyReply(state));
    }

    FakeScriptRunner runner;
    FakeRunningApplications applications;
    InMemoryUserDefaults defaults;
    ManualClock clock;
    SeededRandomSource random{11};
    FakeHostFacts host;
    int librarySourcesMade = 0;
    ChangingLibrarySource *librarySource = nullptr;
    std::unique_ptr<MediaWorker> worker;
};

} // namespace wheelbox::test
