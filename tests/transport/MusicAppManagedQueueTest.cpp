// Collections start through a temporary playlist in the music app; the playlists' names and IDs are
// bookkept in the user defaults so that none is left behind and none of the user's is touched.
#include "MusicAppFixture.hpp"
#include "library/ManagedQueueName.hpp"
#include "osascript/ScriptFixtures.hpp"
#include "transport/ScriptError.hpp"
#include "transport/TransportError.hpp"

#include <gmock/gmock.h>

namespace wheelbox::test {
namespace {

using osascript::test::fill;
using osascript::test::loadScript;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string A = "000000000000000A", B = "000000000000000B", C = "000000000000000C",
                  D = "000000000000000D", E = "000000000000000E";

// A start of B (position 1) in A…E, with nothing odd about it.
QueueStart startOfB()
{
    return {.volume = 50,
            .window = {A, B, C, D, E},
            .windowIndex = 1,
            .chosenID = B,
            .repeatMode = "Off",
            .queue = {A, B, C, D, E},
            .queuePosition = 1,
            .canonical = {A, B, C, D, E},
            .canonicalIndices = {0, 1, 2, 3, 4},
            .shuffle = false,
            .restore = std::nullopt};
}

class MusicAppManagedQueueTest : public MusicAppFixture {
  protected:
    std::string pendingName() const
    {
        return defaults.string(MusicAppTransport::pendingQueueNameKey).value_or("");
    }
};

TEST_F(MusicAppManagedQueueTest, TheQueueNameIsKeptOnlyWhenItIsOneOfOurs)
{
    // "Wheelbox Queue • " and eight upper-case hexadecimal digits.
    auto isFresh = [](const std::string &name) {
        std::string_view prefix = managedQueueNamePrefix;
        return name.size() == prefix.size() + 8 && name.starts_with(prefix) &&
               name.find_first_not_of("0123456789ABCDEF", prefix.size()) == std::string::npos;
    };
    struct Case {
        const char *what;
        std::optional<DefaultsValue> stored;
        bool kept;
    };
    const Case cases[] = {
        {"missing", std::nullopt, false},
        {"ours", std::string("Wheelbox Queue • 0123ABCD"), true},
        {"an older release's", std::string("velto Queue • 0123ABCD"), true},
        {"the user's", std::string("Road Trip"), false},
        {"too long", std::string("Wheelbox Queue • 0123456789012345678901234"), false},
        {"not a string", 3.0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        defaults.remove(MusicAppTransport::managedQueueNameKey);
        if (c.stored)
            defaults.set(MusicAppTransport::managedQueueNameKey, *c.stored);
        makeTransport();
        const auto &name = transport->managedQueuePlaylistName();
        if (c.kept)
            EXPECT_EQ(DefaultsValue(name), *c.stored);
        else
            EXPECT_TRUE(isFresh(name)) << name;
        EXPECT_EQ(defaults.string(MusicAppTransport::managedQueueNameKey), name);
    }
}

TEST_F(MusicAppManagedQueueTest, InconsistentArgumentsStartNothing)
{
    struct Case {
        const char *what;
        std::function<void(QueueStart &)> spoil;
    };
    const Case cases[] = {
        {"window index past the end",
         [](auto &s) {
             s.windowIndex = 5;
         }},
        {"negative window index",
         [](auto &s) {
             s.windowIndex = -1;
         }},
        {"window entry is another track",
         [](auto &s) {
             s.window[1] = C;
         }},
        {"queue position past the end",
         [](auto &s) {
             s.queuePosition = 5;
         }},
        {"queue entry is another track",
         [](auto &s) {
             s.queue[1] = C;
         }},
        {"too few canonical indices",
         [](auto &s) {
             s.canonicalIndices.pop_back();
         }},
        {"canonical index outside the list",
         [](auto &s) {
             s.canonicalIndices[1] = 9;
         }},
        {"canonical entry is another track",
         [](auto &s) {
             s.canonicalIndices[1] = 2;
         }},
        {"empty window",
         [](auto &s) {
             s.window.clear();
         }},
    };
    queueStartsSucceed();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto start = startOfB();
        c.spoil(start);
        try {
            transport->playQueue(start);
            ADD_FAILURE() << "no error";
        } catch (const TransportError &error) {
            EXPECT_EQ(error, TransportError::invalidItem(B));
            EXPECT_EQ(error.what(), "This transport cannot play " + B + ".");
        }
        EXPECT_TRUE(runner.scripts().empty());
        EXPECT_FALSE(transport->usesLogicalQueue());
    }
}

TEST_F(MusicAppManagedQueueTest, TheStartScriptAsksForTheWindowFromTheChosenTrack)
{
    struct Case {
        const char *what;
        std::string repeat;
        std::int64_t windowIndex;
        std::vector<std::string> requested;
        std::string repeatWord;
    };
    const Case cases[] = {
        {"repeat off: from the chosen track on", "Off", 3, {D, E}, "off"},
        {"repeat one: the same", "One", 3, {D, E}, "one"},
        {"repeat all: then the tracks before it", "All", 3, {D, E, A, B, C}, "all"},
        {"repeat all from the first", "All", 0, {A, B, C, D, E}, "all"},
    };
    queueStartsSucceed();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        runner.clearCalls();
        auto start = startOfB();
        start.windowIndex = start.queuePosition = c.windowIndex;
        start.chosenID = start.window[static_cast<std::size_t>(c.windowIndex)];
        start.repeatMode = c.repeat;
        start.volume = 120;
        transport->playQueue(start);

        auto calls = runner.calls();
        auto script = std::find_if(calls.begin(), calls.end(), [](auto &call) {
            return call.script.find(queueStartScript) != std::string::npos;
        });
        ASSERT_NE(script, calls.end());
        EXPECT_EQ(script->timeoutSeconds, 45);
        std::string trackList;
        for (const auto &id : c.requested)
            trackList += (trackList.empty() ? "\"" : ", \"") + id + "\"";
        EXPECT_EQ(script->script, fill(loadScript("music-start-queue"),
                                       {{"name", between(script->script, "{name:\"", "\"}")},
                                        {"startID", start.chosenID},
                                        {"trackList", trackList},
                                        {"settings", osascript::test::settingsBlock("100.0", c.repeatWord)},
                                        {"restore", ""}}));
    }
}

TEST_F(MusicAppManagedQueueTest, TextSplicedIntoTheStartScriptIsEscaped)
{
    const std::string odd = "Q\"uote\\Back";
    auto start = startOfB();
    start.window[1] = start.queue[1] = start.canonical[1] = start.chosenID = odd;
    runner.answer(queueStartScript, joined({"PL", "Wheelbox Queue • 1", "direct", "0", ""}, recordSeparator));
    transport->playQueue(start);
    ASSERT_EQ(runner.count(queueStartScript), 1u);
    for (const auto &call : runner.scripts()) {
        if (call.find(queueStartScript) == std::string::npos)
            continue;
        EXPECT_THAT(call, HasSubstr("{\"Q\\\"uote\\\\Back\", \"" + C));
        EXPECT_THAT(call, HasSubstr("persistent ID is \"Q\\\"uote\\\\Back\")"));
        EXPECT_THAT(call, Not(HasSubstr("\"Q\"uote")));
    }
}

TEST_F(MusicAppManagedQueueTest, ARebuildRestoresThePositionAndThePause)
{
    NowPlayingState paused = NowPlayingState::empty();
    paused.elapsed = 12.5;
    paused.isPlaying = false;
    NowPlayingState playing = paused;
    playing.isPlaying = true;
    playing.elapsed = -3;
    const std::pair<NowPlayingState, std::string> cases[] = {
        {paused, "\n            try\n              set player position to 12.5\n            end try"
                 "\n            try\n              pause\n            end try"},
        {playing, "\n            try\n              set player position to 0.0\n            end try"},
    };
    queueStartsSucceed();
    for (const auto &[state, restore] : cases) {
        runner.clearCalls();
        auto start = startOfB();
        start.restore = state;
        transport->playQueue(start);
        EXPECT_EQ(runner.count("    " + restore + "\n    return newQueueID"), 1u);
    }
}

// The reply must name the new playlist and, in queue mode, put the chosen track where the script
// says; anything else fails the start, which then deletes the pending playlist.
TEST_F(MusicAppManagedQueueTest, RepliesAreCheckedBeforeTheQueueIsInstalled)
{
    auto reply = [](std::vector<std::string> fields) {
        return joined(fields, recordSeparator);
    };
    auto copied = joined({A, B, C}, unitSeparator);
    struct Case {
        const char *what;
        std::optional<std::string> output;
        std::optional<std::string> error; // nothing: accepted
    };
    const Case cases[] = {
        {"queue mode, chosen track first", reply({"PL", "N", "queue", "1", joined({B, C}, unitSeparator)}),
         std::nullopt},
        {"queue mode, chosen track later", reply({"PL", "N", "queue", "2", copied}), std::nullopt},
        {"a signed start position", reply({"PL", "N", "queue", "+2", copied}), std::nullopt},
        {"empty pieces in the copied list are dropped",
         reply({"PL", "N", "queue", "2",
                std::string(1, unitSeparator) + A + unitSeparator + unitSeparator + B}),
         std::nullopt},
        {"direct mode", reply({"PL", "N", "direct", "0", copied}), std::nullopt},
        {"no output", std::nullopt, "Music returned an invalid queue."},
        {"four fields", reply({"PL", "N", "queue", "1"}), "Music returned an invalid queue."},
        {"six fields", reply({"PL", "N", "queue", "1", B, ""}), "Music returned an invalid queue."},
        {"an empty playlist ID", reply({"", "N", "queue", "1", B}), "Music returned an invalid queue."},
        {"an empty name", reply({"PL", "", "queue", "1", B}), "Music returned an invalid queue."},
        {"a start position that is no integer", reply({"PL", "N", "queue", "1.0", B}),
         "Music returned an invalid queue."},
        {"a start position with a space", reply({"PL", "N", "queue", " 1", B}),
         "Music returned an invalid queue."},
        {"queue mode naming another track", reply({"PL", "N", "queue", "1", copied}),
         "Music lost the selected queue position."},
        {"queue mode past the copied tracks", reply({"PL", "N", "queue", "4", copied}),
         "Music lost the selected queue position."},
        {"queue mode with position 0", reply({"PL", "N", "queue", "0", copied}),
         "Music lost the selected queue position."},
        {"queue mode with the lowest integer as position",
         reply({"PL", "N", "queue", "-9223372036854775808", copied}),
         "Music lost the selected queue position."},
        {"an unknown mode", reply({"PL", "N", "shuffle", "1", B}),
         "Music returned an unknown playback mode."},
        {"a mode in another case", reply({"PL", "N", "Queue", "1", B}),
         "Music returned an unknown playback mode."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        defaults.remove(MusicAppTransport::managedQueueIDKey);
        makeTransport();
        runner.clearCalls();
        runner.answer(queueStartScript, c.output);
        try {
            transport->playQueue(startOfB());
            EXPECT_FALSE(c.error) << "accepted";
            EXPECT_TRUE(transport->usesLogicalQueue());
            EXPECT_EQ(transport->managedQueuePlaylistID(), "PL");
        } catch (const ScriptError &error) {
            ASSERT_TRUE(c.error) << error.what();
            EXPECT_EQ(error.kind(), ScriptError::Kind::failed);
            EXPECT_EQ(error.what(), *c.error);
            EXPECT_FALSE(transport->usesLogicalQueue());
            EXPECT_EQ(runner.count(pendingDeleteScript), 1u) << "the pending playlist is deleted";
            EXPECT_EQ(defaults.string(MusicAppTransport::pendingQueueNameKey), std::nullopt);
        }
    }
}

TEST_F(MusicAppManagedQueueTest, ASuccessfulStartRecordsTheNewPlaylistAndDeletesTheOldOne)
{
    queueStartsSucceed();
    transport->playQueue(startOfB());
    auto first = transport->managedQueuePlaylistName();
    EXPECT_EQ(transport->managedQueuePlaylistID(), "PL-" + first);
    EXPECT_EQ(defaults.string(MusicAppTransport::managedQueueNameKey), first);
    EXPECT_EQ(defaults.string(MusicAppTransport::managedQueueIDKey), "PL-" + first);
    EXPECT_EQ(defaults.string(MusicAppTransport::pendingQueueNameKey), std::nullopt);
    EXPECT_TRUE(transport->usesLogicalQueue());
    EXPECT_EQ(transport->logicalQueue().index, 1u);

    runner.clearCalls();
    transport->playQueue(startOfB());
    EXPECT_NE(transport->managedQueuePlaylistName(), first);
    EXPECT_EQ(runner.count(oldDeleteScript), 1u);
    EXPECT_EQ(runner.scripts().back(), fill(loadScript("music-delete-by-id"), {{"oldID", "PL-" + first}}));
}

TEST_F(MusicAppManagedQueueTest, AnOldPlaylistThatCouldNotBeDeletedGoesAtTheNextStart)
{
    queueStartsSucceed();
    transport->playQueue(startOfB());
    const auto first = transport->managedQueuePlaylistName();

    // The deletion is cut off (a newer request cancelled it): the start still succeeds.
    runner.fail(oldDeleteScript, ScriptError::cancelled(), FakeScriptRunner::Uses::once);
    transport->playQueue(startOfB());
    const auto second = transport->managedQueuePlaylistName();
    EXPECT_NE(second, first);
    EXPECT_EQ(defaults.string(MusicAppTransport::managedQueueNameKey), second);
    EXPECT_EQ(pendingName(), first);

    runner.clearCalls();
    transport->playQueue(startOfB());
    auto scripts = runner.scripts();
    ASSERT_FALSE(scripts.empty());
    EXPECT_EQ(scripts.front(), fill(loadScript("music-remove-pending"), {{"pending", first}}));
    EXPECT_EQ(scripts.back(), fill(loadScript("music-delete-by-id"), {{"oldID", "PL-" + second}}));
    EXPECT_EQ(pendingName(), "");
}

TEST_F(MusicAppManagedQueueTest, TheOldPlaylistGoesByIDElseByOneOfOurNames)
{
    struct Case {
        const char *what;
        std::optional<std::string> oldID;
        std::string oldName;
        std::optional<std::string> deleteScript;
    };
    const Case cases[] = {
        {"by its ID", "OLD-ID", "Wheelbox Queue • 11111111",
         fill(loadScript("music-delete-by-id"), {{"oldID", "OLD-ID"}})},
        {"an ID with a quote is escaped", "OLD\"ID", "Wheelbox Queue • 11111111",
         fill(loadScript("music-delete-by-id"), {{"oldID", "OLD\\\"ID"}})},
        {"no ID: by our name", std::nullopt, "Wheelbox Queue • 11111111",
         fill(loadScript("music-delete-by-name"), {{"oldName", "Wheelbox Queue • 11111111"}})},
        {"an empty ID: by our name", "", "velto Queue • 22222222",
         fill(loadScript("music-delete-by-name"), {{"oldName", "velto Queue • 22222222"}})},
        {"the ID the new playlist has: nothing", "PL-NEW", "Wheelbox Queue • 11111111", std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        defaults.setString(MusicAppTransport::managedQueueNameKey, c.oldName);
        if (c.oldID)
            defaults.setString(MusicAppTransport::managedQueueIDKey, *c.oldID);
        else
            defaults.remove(MusicAppTransport::managedQueueIDKey);
        makeTransport();
        runner.clearCalls();
        runner.answer(queueStartScript, joined({"PL-NEW", "N", "direct", "0", ""}, recordSeparator));
        transport->playQueue(startOfB());
        auto scripts = runner.scripts();
        if (c.deleteScript)
            EXPECT_EQ(scripts.back(), *c.deleteScript);
        else
            EXPECT_THAT(scripts.back(), HasSubstr(queueStartScript));
    }
}

TEST_F(MusicAppManagedQueueTest, APendingPlaylistIsDeletedBeforeTheNextStart)
{
    struct Case {
        const char *what;
        std::string pending;
        std::optional<std::string> currentName;
        std::optional<std::string> currentID;
        bool deleted;
    };
    const Case cases[] = {
        {"left behind by a cut-off start", "Wheelbox Queue • 0000DEAD", "Wheelbox Queue • 0000BEEF", "PL",
         true},
        {"the committed playlist is not deleted", "Wheelbox Queue • 0000BEEF", "Wheelbox Queue • 0000BEEF",
         "PL", false},
        {"the current name without an ID is deleted", "Wheelbox Queue • 0000BEEF",
         "Wheelbox Queue • 0000BEEF", std::nullopt, true},
        {"not one of our names", "Road Trip", std::nullopt, std::nullopt, false},
        {"41 characters", "Wheelbox Queue • 012345678901234567890123", std::nullopt, std::nullopt, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        defaults.remove(MusicAppTransport::managedQueueIDKey);
        if (c.currentName)
            defaults.setString(MusicAppTransport::managedQueueNameKey, *c.currentName);
        if (c.currentID)
            defaults.setString(MusicAppTransport::managedQueueIDKey, *c.currentID);
        makeTransport();
        defaults.setString(MusicAppTransport::pendingQueueNameKey, c.pending);
        runner.clearCalls();
        queueStartsSucceed();
        transport->playQueue(startOfB());
        auto scripts = runner.scripts();
        ASSERT_FALSE(scripts.empty());
        if (c.deleted)
            EXPECT_EQ(scripts.front(), fill(loadScript("music-remove-pending"), {{"pending", c.pending}}));
        else
            EXPECT_THAT(scripts.front(), HasSubstr(queueStartScript));
        EXPECT_EQ(runner.count(pendingDeleteScript), c.deleted ? 1u : 0u);
        EXPECT_EQ(defaults.string(MusicAppTransport::pendingQueueNameKey), std::nullopt);
    }
}

// The user's playlists are never deleted, also not by an ID recorded beside a name that is not ours
// (a hand-edited settings file, or a player that named the new playlist otherwise).
TEST_F(MusicAppManagedQueueTest, NoPlaylistIsDeletedByIDUnlessItsRecordedNameIsOneOfOurs)
{
    // An ID stored beside the user's playlist's name.
    defaults.setString(MusicAppTransport::managedQueueNameKey, "Road Trip");
    defaults.setString(MusicAppTransport::managedQueueIDKey, "USER-ID");
    makeTransport();
    queueStartsSucceed();
    transport->playQueue(startOfB());
    EXPECT_EQ(runner.count("USER-ID"), 0u);
    EXPECT_NE(defaults.string(MusicAppTransport::managedQueueIDKey), "USER-ID");

    // The player answered a start with a playlist under a name that is not ours.
    runner.clearCalls();
    runner.answer(queueStartScript, joined({"PL-ROAD", "Road Trip", "direct", "0", ""}, recordSeparator),
                  FakeScriptRunner::Uses::once);
    transport->playQueue(startOfB());
    transport->playQueue(startOfB());
    EXPECT_EQ(runner.count("PL-ROAD"), 0u);
    EXPECT_EQ(runner.count("Road Trip"), 0u);
}

// A pending playlist that cannot be deleted never stops a start: it is tried again once the start
// has played, and stays recorded until it goes.
TEST_F(MusicAppManagedQueueTest, AFailedPendingCleanUpIsRetriedAfterTheStart)
{
    const std::string stuck = "Wheelbox Queue • 0000DEAD";
    const std::string removeStuck = fill(loadScript("music-remove-pending"), {{"pending", stuck}});
    struct Case {
        const char *what;
        int failures;
        bool goneAfterFirstStart;
    } cases[] = {{"fails once", 1, true}, {"fails until the next start", 2, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        makeTransport();
        defaults.setString(MusicAppTransport::pendingQueueNameKey, stuck);
        runner.clearCalls();
        for (int i = 0; i < c.failures; ++i)
            runner.fail(removeStuck, ScriptError::timedOut(), FakeScriptRunner::Uses::once);
        queueStartsSucceed();
        EXPECT_NO_THROW(transport->playQueue(startOfB()));
        EXPECT_EQ(runner.count(queueStartScript), 1u);
        EXPECT_TRUE(transport->usesLogicalQueue());
        EXPECT_EQ(runner.count(removeStuck), 2u) << "tried before the start and after it";
        if (c.goneAfterFirstStart) {
            EXPECT_EQ(defaults.string(MusicAppTransport::pendingQueueNameKey), std::nullopt);
            continue;
        }
        EXPECT_EQ(defaults.string(MusicAppTransport::pendingQueueNameKey), stuck);
        // Recorded, it goes at the next start, or at the next run of the program.
        runner.clearCalls();
        transport->playQueue(startOfB());
        EXPECT_EQ(runner.scripts().front(), removeStuck);
        EXPECT_EQ(runner.count(removeStuck), 1u);
        EXPECT_EQ(defaults.string(MusicAppTransport::pendingQueueNameKey), std::nullopt);
    }
}

TEST_F(MusicAppManagedQueueTest, AFailedStartKeepsTheQueueAndRemovesThePendingPlaylist)
{
    startQueue({A, B, C}, 0, "All");
    auto queueBefore = transport->logicalQueue();
    auto nameBefore = transport->managedQueuePlaylistName();
    const ScriptError errors[] = {
        ScriptError::failed("Music can't play this song. Open Music and check Account sign-in."),
        ScriptError::failed("Music already has the temporary Wheelbox queue."), ScriptError::cancelled(),
        ScriptError::timedOut()};
    for (const auto &failure : errors) {
        SCOPED_TRACE(failure.what());
        runner.clearCalls();
        std::string startedName;
        runner.on(
            queueStartScript,
            [&](const FakeScriptRunner::Call &call) -> std::optional<std::string> {
                startedName = between(call.script, "{name:\"", "\"}");
                EXPECT_EQ(defaults.string(MusicAppTransport::pendingQueueNameKey), startedName)
                    << "the name is recorded before the script runs";
                throw failure;
            },
            FakeScriptRunner::Uses::once);
        try {
            transport->playQueue(startOfB());
            ADD_FAILURE() << "no error";
        } catch (const ScriptError &error) {
            EXPECT_STREQ(error.what(), failure.what());
        }
        EXPECT_EQ(runner.scripts().back(),
                  fill(loadScript("music-remove-pending"), {{"pending", startedName}}));
        EXPECT_EQ(defaults.string(MusicAppTransport::pendingQueueNameKey), std::nullopt);
        EXPECT_EQ(transport->logicalQueue().ids, queueBefore.ids);
        EXPECT_EQ(transport->logicalQueue().index, queueBefore.index);
        EXPECT_EQ(transport->repeatMode(), "All");
        EXPECT_EQ(transport->managedQueuePlaylistName(), nameBefore);
    }
}

} // namespace
} // namespace wheelbox::test
