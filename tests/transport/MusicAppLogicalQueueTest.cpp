// The logical queue: how readings of the music app move, advance or end the device's play order,
// the skip that passes over refused tracks, and the rebuilds for shuffle and repeat.
#include "MusicAppFixture.hpp"
#include "transport/LogicalQueue.hpp"
#include "transport/ScriptError.hpp"
#include "transport/TransportError.hpp"

#include <gmock/gmock.h>

#include <algorithm>

namespace wheelbox::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string A = "000000000000000A", B = "000000000000000B", C = "000000000000000C",
                  D = "000000000000000D", E = "000000000000000E";

TEST(LogicalQueueTest, RotatedQueue)
{
    const std::vector<std::string> list = {A, B, C, D, E};
    EXPECT_THAT(rotatedQueue(list, 3, "All"), ElementsAre(D, E, A, B, C));
    EXPECT_THAT(rotatedQueue(list, 3, "Off"), ElementsAre(D, E));
    EXPECT_THAT(rotatedQueue(list, 3, "One"), ElementsAre(D, E));
    EXPECT_THAT(rotatedQueue(list, 0, "All"), ElementsAre(A, B, C, D, E));
    EXPECT_TRUE(rotatedQueue(list, 5, "All").empty());
    EXPECT_TRUE(rotatedQueue(list, -1, "All").empty());
    EXPECT_TRUE(rotatedQueue({}, 0, "All").empty());
}

TEST(LogicalQueueTest, NextAvailableIndex)
{
    struct Case {
        const char *what;
        std::size_t start;
        std::string repeat;
        std::set<std::size_t> unavailable;
        std::optional<std::size_t> expected;
    };
    const Case cases[] = {
        {"the start itself", 2, "Off", {}, 2},
        {"past refused tracks", 1, "Off", {1, 2}, 3},
        {"past the end without repeat", 5, "Off", {}, std::nullopt},
        {"refused up to the end without repeat", 3, "Off", {3, 4}, std::nullopt},
        {"wraps with repeat all", 5, "All", {}, 0},
        {"wraps over refused tracks", 3, "All", {3, 4, 0}, 1},
        {"repeat one does not wrap", 5, "One", {}, std::nullopt},
        {"everything refused", 0, "All", {0, 1, 2, 3, 4}, std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        LogicalQueue queue;
        queue.ids = {A, B, C, D, E};
        queue.unavailable = c.unavailable;
        EXPECT_EQ(queue.nextAvailableIndex(c.start, c.repeat), c.expected);
    }
    EXPECT_EQ(LogicalQueue{}.nextAvailableIndex(0, "All"), std::nullopt);
}

// (previous reading, new reading, queue state, flags) -> (advance from, leave).
TEST(LogicalQueueTest, FollowUpDecisions)
{
    enum Flags : unsigned { none = 0, seekSettling = 1, ownStart = 2, appShuffles = 4, mustNotAdvance = 8 };
    const auto stay = std::optional<std::size_t>();
    struct Case {
        const char *what;
        // Previous reading: track, elapsed of a 100 s track, playing.
        std::string previousID;
        double previousElapsed;
        bool previousPlaying;
        // New reading.
        std::string id;
        double position;
        std::string state;
        // Queue over A…E: current index, repeat, flags.
        std::size_t index;
        std::string repeat;
        unsigned flags;
        // Decision.
        std::optional<std::size_t> advanceFrom;
        bool leave;
    };
    const Case cases[] = {
        {"same track playing on", B, 50, true, B, 51, "playing", 1, "Off", none, stay, false},
        {"the app moved to the next track at the end", B, 98, true, C, 0.5, "playing", 1, "Off", none, 2,
         false},
        {"the app stopped at the end", B, 98, true, B, 0, "stopped", 1, "Off", none, 2, false},
        {"the app stopped far into the track", B, 98, true, B, 30, "stopped", 1, "Off", none, 2, false},
        {"the track started over at the end", B, 98, true, B, 1, "playing", 1, "Off", none, 2, false},
        {"the app went on to another track at the end", B, 97, true, E, 2, "playing", 1, "Off", none, 2,
         false},
        {"last track ends without repeat: left", E, 98, true, A, 0, "playing", 4, "Off", none, stay, true},
        {"last track ends with repeat all: wraps", E, 98, true, A, 0, "playing", 4, "All", none, 0, false},
        {"repeat one never advances", B, 98, true, B, 0, "playing", 1, "One", none, stay, false},
        {"the app's own shuffle never advances", B, 98, true, C, 0, "playing", 1, "Off", appShuffles, stay,
         true},
        {"a paused track does not end", B, 98, false, C, 0, "playing", 1, "Off", none, stay, true},
        {"more than 4 s left is no end", B, 95.9, true, C, 0, "playing", 1, "Off", none, stay, true},
        {"a new track already 5 s in is no advance", B, 98, true, C, 5, "playing", 1, "Off", none, stay,
         true},
        {"a read that must not advance still leaves", B, 98, true, C, 0, "playing", 1, "Off", mustNotAdvance,
         stay, true},
        {"the transport's own start is no change of the user's", B, 50, true, D, 0, "playing", 1, "Off",
         ownStart, stay, false},
        {"the transport's own start of an ending track is no end", B, 98, true, B, 0, "playing", 1, "Off",
         ownStart, stay, false},
        {"a jump backwards of the user's", B, 50, true, B, 10, "playing", 1, "Off", none, stay, true},
        {"a small step back is no jump", B, 50, true, B, 49.5, "playing", 1, "Off", none, stay, false},
        {"a jump back near the end is no jump", B, 92.5, true, B, 10, "playing", 1, "Off", none, stay, false},
        {"a jump back with repeat one", B, 50, true, B, 10, "playing", 1, "One", none, stay, false},
        {"a device seek still settling", B, 50, true, B, 10, "playing", 1, "Off", seekSettling, stay, false},
        {"a device seek suppresses the advance", B, 98, true, C, 0, "playing", 1, "Off", seekSettling, stay,
         true},
        {"the previous reading is not the queue's track", A, 98, true, C, 0, "playing", 1, "Off", none, stay,
         true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        NowPlayingState previous = NowPlayingState::empty();
        previous.source = "music";
        previous.persistentID = c.previousID;
        previous.elapsed = c.previousElapsed;
        previous.duration = 100;
        previous.isPlaying = c.previousPlaying;
        QueueReading reading{c.id, c.position, c.state};
        LogicalQueue queue;
        queue.ids = {A, B, C, D, E};
        queue.index = c.index;
        queue.followed = true;
        auto decision = decideQueueFollowUp(
            {.previous = previous,
             .reading = reading,
             .queue = queue,
             .advance = c.flags & mustNotAdvance ? QueueAdvance::suppressed : QueueAdvance::allowed,
             .appShuffles = (c.flags & appShuffles) != 0,
             .repeatMode = c.repeat,
             .expectedTrack = (c.flags & ownStart) != 0,
             .seekAffected = (c.flags & seekSettling) != 0});
        EXPECT_EQ(decision.advanceFrom, c.advanceFrom);
        EXPECT_EQ(decision.leave, c.leave);
    }
}

TEST(LogicalQueueTest, FollowedIndex)
{
    LogicalQueue queue;
    queue.ids = {A, B, A, C};
    queue.index = 2;
    queue.followed = true;
    EXPECT_EQ(followedQueueIndex(queue, A), 2u) << "the current position while its track plays";
    EXPECT_EQ(followedQueueIndex(queue, C), 3u);
    EXPECT_EQ(followedQueueIndex(queue, E), std::nullopt);
    queue.index = 1;
    EXPECT_EQ(followedQueueIndex(queue, A), 0u) << "else the first position of the track";
    queue.followed = false;
    EXPECT_EQ(followedQueueIndex(queue, B), 1u);
    EXPECT_EQ(followedQueueIndex(queue, A), std::nullopt);
}

class MusicAppLogicalQueueTest : public MusicAppFixture {
  protected:
    // The track IDs of the track starts sent, in order.
    std::vector<std::string> startedTracks() const
    {
        std::vector<std::string> ids;
        for (const auto &script : runner.scripts()) {
            if (script.find(trackStartScript) != std::string::npos)
                ids.push_back(between(script, "persistent ID is \"", "\""));
        }
        return ids;
    }

    // Track starts of these IDs are refused as unplayable.
    void refuse(const std::vector<std::string> &ids)
    {
        for (const auto &id : ids)
            runner.fail(
                "persistent ID is \"" + id + "\")\n  if (count of matches) is 0",
                ScriptError::failed("Music can't play this song. Open Music and check Account sign-in."));
    }
};

TEST_F(MusicAppLogicalQueueTest, TheFirstReadAfterAStartKeepsTheQueue)
{
    appPlays(E, 50, 100); // the user's own track before the start
    transport->nowPlaying();
    queueStartsSucceed();
    transport->playQueue({.volume = 50,
                          .window = {A, B, C},
                          .windowIndex = 2,
                          .chosenID = C,
                          .repeatMode = "Off",
                          .queue = {A, B, C},
                          .queuePosition = 2,
                          .canonical = {A, B, C},
                          .canonicalIndices = {0, 1, 2},
                          .shuffle = false,
                          .restore = std::nullopt});
    appPlays(C, 0.2, 100);
    auto state = transport->nowPlaying();
    EXPECT_TRUE(transport->usesLogicalQueue());
    EXPECT_EQ(state.queuePosition, 3);
    EXPECT_EQ(state.queueCount, 3);
    EXPECT_EQ(state.shuffle, false) << "the transport dealt the order, so it knows";
}

TEST_F(MusicAppLogicalQueueTest, AnotherTrackPickedInTheAppLeavesTheQueue)
{
    startQueue({A, B, C}, 0);
    appPlays(E, 3, 100);
    auto state = transport->nowPlaying();
    EXPECT_FALSE(transport->usesLogicalQueue());
    EXPECT_EQ(state.queuePosition, std::nullopt);
    EXPECT_EQ(state.queueCount, std::nullopt);
    EXPECT_EQ(state.shuffle, std::nullopt) << "the app's own order is not known";
    EXPECT_TRUE(transport->logicalQueue().ids.empty());
}

TEST_F(MusicAppLogicalQueueTest, AStopAtTheEndStartsTheNextQueueTrack)
{
    startQueue({A, B, C}, 0);
    appPlays(A, 98, 100);
    transport->nowPlaying();
    runner.clearCalls();

    // The app stops at the end of A; the transport starts B and answers B's reading.
    appPlays(A, 0, 100, "stopped");
    auto state = transport->nowPlaying();
    EXPECT_THAT(startedTracks(), ElementsAre(B));
    EXPECT_EQ(state.persistentID, B);
    EXPECT_EQ(state.queuePosition, 2);
    EXPECT_TRUE(transport->usesLogicalQueue());
    // The track start carries no settings and does not pause.
    auto scripts = runner.scripts();
    auto trackStart = std::find_if(scripts.begin(), scripts.end(),
                                   [](auto &s) { return s.find(trackStartScript) != std::string::npos; });
    ASSERT_NE(trackStart, scripts.end());
    EXPECT_THAT(*trackStart, ::testing::Not(HasSubstr("set sound volume")));
    EXPECT_THAT(
        *trackStart,
        HasSubstr("error \"Music can't play this song. Open Music and check Account sign-in.\"\n  \n"));
}

TEST_F(MusicAppLogicalQueueTest, ARefusedNextTrackIsMarkedAndTheNextReadTriesTheOneAfter)
{
    startQueue({A, B, C, D}, 0, "All");
    appPlays(A, 98, 100);
    auto ending = transport->nowPlaying();
    refuse({B});
    appPlays(A, 0, 100, "stopped");

    EXPECT_EQ(transport->nowPlaying(), ending) << "a refused start answers the last reading";
    EXPECT_EQ(transport->logicalQueue().unavailable, (std::set<std::size_t>{1}));

    runner.clearCalls();
    transport->nowPlaying();
    EXPECT_THAT(startedTracks(), ElementsAre(C));
    EXPECT_EQ(transport->logicalQueue().index, 2u);
}

TEST_F(MusicAppLogicalQueueTest, NearTheEndOfTheLastTrackWithRepeatAllAStopStartsTheFirst)
{
    startQueue({A, B, C}, 2, "All");
    appPlays(C, 97, 100);
    transport->nowPlaying();
    runner.clearCalls();
    appPlays(C, 0, 100, "stopped");
    transport->nowPlaying();
    EXPECT_THAT(startedTracks(), ElementsAre(A));
    EXPECT_EQ(transport->logicalQueue().index, 0u);
}

TEST_F(MusicAppLogicalQueueTest, AnotherFailureDuringAnAdvanceMarksNothing)
{
    startQueue({A, B, C}, 0);
    appPlays(A, 98, 100);
    auto ending = transport->nowPlaying();
    runner.fail(trackStartScript, ScriptError::cancelled(), FakeScriptRunner::Uses::once);
    appPlays(A, 0, 100, "stopped");
    EXPECT_EQ(transport->nowPlaying(), ending);
    EXPECT_TRUE(transport->logicalQueue().unavailable.empty());
}

TEST_F(MusicAppLogicalQueueTest, ADeviceSeekSettlesBeforeReadsJudgeThePosition)
{
    startQueue({A, B, C}, 0, "Off", 80);
    transport->seek(10);
    // The app has not arrived yet: not taken for a jump of the user's.
    appPlays(A, 79, 100);
    transport->nowPlaying();
    EXPECT_TRUE(transport->usesLogicalQueue());
    // Arrived: the seek is forgotten...
    appPlays(A, 11, 100);
    transport->nowPlaying();
    EXPECT_TRUE(transport->usesLogicalQueue());
    // ...so a later jump backwards is the user's.
    appPlays(A, 2, 100);
    transport->nowPlaying();
    EXPECT_FALSE(transport->usesLogicalQueue());
}

TEST_F(MusicAppLogicalQueueTest, ADeviceSeekIsForgottenAfterThreeSeconds)
{
    startQueue({A, B, C}, 0, "Off", 80);
    transport->seek(10);
    clock.advance(std::chrono::milliseconds(3001));
    appPlays(A, 60, 100);
    transport->nowPlaying();
    EXPECT_FALSE(transport->usesLogicalQueue()) << "an old seek no longer explains a jump";
}

TEST_F(MusicAppLogicalQueueTest, LogicalSkipWalksTheQueue)
{
    struct Case {
        const char *what;
        std::size_t from;
        int direction;
        std::string repeat;
        std::vector<std::string> refused;
        std::vector<std::string> started;
        std::optional<std::size_t> index;
        std::set<std::size_t> unavailable;
        bool fails = false;
    };
    const Case cases[] = {
        {"forward", 1, 1, "Off", {}, {C}, 2, {}},
        {"direction 0 is forward", 1, 0, "Off", {}, {C}, 2, {}},
        {"back", 1, -1, "Off", {}, {A}, 0, {}},
        {"forward at the end without repeat: nothing", 4, 1, "Off", {}, {}, 4, {}},
        {"back at the start without repeat: nothing", 0, -1, "One", {}, {}, 0, {}},
        {"forward at the end with repeat all", 4, 1, "All", {}, {A}, 0, {}},
        {"back at the start with repeat all", 0, -1, "All", {}, {E}, 4, {}},
        {"two refused tracks, then the third", 0, 1, "Off", {B, C}, {B, C, D}, 3, {1, 2}},
        {"refused up to the end without repeat: quietly nothing", 2, 1, "Off", {D, E}, {D, E}, 2, {3, 4}},
        {"everything refused with repeat all",
         0,
         1,
         "All",
         {A, B, C, D, E},
         {B, C, D, E, A},
         0,
         {0, 1, 2, 3, 4},
         true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        runner.reset();
        makeTransport();
        startQueue({A, B, C, D, E}, c.from, c.repeat);
        refuse(c.refused);
        try {
            transport->skip(c.direction);
            EXPECT_FALSE(c.fails);
        } catch (const TransportError &error) {
            EXPECT_TRUE(c.fails);
            EXPECT_STREQ(error.what(), "Music can’t play this song right now.");
        }
        EXPECT_EQ(startedTracks(), c.started);
        EXPECT_EQ(transport->logicalQueue().index, c.index);
        EXPECT_EQ(transport->logicalQueue().unavailable, c.unavailable);
        EXPECT_TRUE(transport->usesLogicalQueue());
    }
}

TEST_F(MusicAppLogicalQueueTest, LogicalSkipKeepsAPausedPlayerPausedAndNeedsNoRunningCheck)
{
    startQueue({A, B, C}, 0);
    appPlays(A, 10, 100, "paused");
    transport->nowPlaying();
    applications.musicRuns = false;
    runner.clearCalls();
    transport->skip(1);
    ASSERT_EQ(runner.count(trackStartScript), 1u);
    EXPECT_THAT(runner.scripts().back(), HasSubstr("\n  pause\nend tell"));

    runner.fail(trackStartScript, ScriptError::timedOut(), FakeScriptRunner::Uses::once);
    EXPECT_THROW(transport->skip(1), ScriptError);
    EXPECT_EQ(transport->logicalQueue().index, 1u);
}

TEST_F(MusicAppLogicalQueueTest, ShuffleToItsCurrentValueOnlySwitchesTheAppsShuffleOff)
{
    startQueue({A, B, C}, 1);
    transport->setShuffle(false);
    EXPECT_THAT(runner.scripts(), ElementsAre("tell application \"Music\" to set shuffle enabled to false"));
}

TEST_F(MusicAppLogicalQueueTest, ShuffleOnAndOffRebuildAroundThePlayingTrack)
{
    const std::vector<std::string> album = {A, B, C, D, E};
    startQueue(album, 2);
    appPlays(C, 42.5, 100, "paused");
    runner.answer(volumeScript, "30");

    transport->setShuffle(true);
    const auto &shuffled = transport->logicalQueue();
    ASSERT_EQ(shuffled.ids.size(), 5u);
    EXPECT_EQ(shuffled.ids.front(), C) << "the playing track comes first";
    EXPECT_EQ(shuffled.index, 0u);
    EXPECT_TRUE(std::is_permutation(shuffled.ids.begin(), shuffled.ids.end(), album.begin()));
    for (std::size_t i = 0; i < shuffled.ids.size(); ++i)
        EXPECT_EQ(album[static_cast<std::size_t>(shuffled.canonicalIndices[i])], shuffled.ids[i]);
    EXPECT_TRUE(transport->logicalShuffleEnabled());
    auto start = sentQueueStart();
    EXPECT_EQ(requestedIDs(start), shuffled.ids) << "repeat off: the whole shuffled order from the start";
    EXPECT_THAT(start, HasSubstr("set sound volume to 30.0"));
    EXPECT_THAT(start, HasSubstr("set player position to 42.5"));
    EXPECT_THAT(start, HasSubstr("              pause\n"));
    EXPECT_EQ(transport->nowPlaying().shuffle, true);

    transport->setShuffle(false);
    EXPECT_EQ(transport->logicalQueue().ids, album);
    EXPECT_EQ(transport->logicalQueue().index, 2u) << "the collection position of the playing track";
    EXPECT_FALSE(transport->logicalShuffleEnabled());
}

TEST_F(MusicAppLogicalQueueTest, RepeatRebuildsTheWindowFromThePlayingTrack)
{
    startQueue({A, B, C, D, E}, 3);
    appPlays(D, 11, 100);
    transport->setRepeat("All");
    auto start = sentQueueStart();
    EXPECT_THAT(requestedIDs(start), ElementsAre(D, E, A, B, C));
    EXPECT_THAT(start, HasSubstr("set song repeat to all"));
    EXPECT_THAT(start, HasSubstr("set sound volume to 50.0")) << "no volume reading: 50";
    EXPECT_EQ(transport->repeatMode(), "All");
    EXPECT_EQ(transport->logicalQueue().index, 3u);
}

TEST_F(MusicAppLogicalQueueTest, ALongQueueRebuildsAWindowOf200)
{
    std::vector<std::string> ids;
    for (int i = 0; i < 450; ++i) {
        char id[17];
        std::snprintf(id, sizeof id, "%016X", i + 1);
        ids.push_back(id);
    }
    startQueue(ids, 300);
    appPlays(ids[300], 11, 100);
    transport->setRepeat("All");
    auto start = sentQueueStart();
    auto requested = requestedIDs(start);
    ASSERT_EQ(requested.size(), 200u);
    EXPECT_EQ(requested.front(), ids[300]);
    EXPECT_EQ(requested[150], ids[0]) << "repeat all wraps to the start";
    EXPECT_EQ(transport->logicalQueue().ids.size(), 450u);
}

TEST_F(MusicAppLogicalQueueTest, ARebuildRefusesWhenTheAppPlaysAnotherTrack)
{
    startQueue({A, B, C}, 1);
    appPlays(E, 5, 100);
    runner.clearCalls();
    try {
        transport->setShuffle(true);
        ADD_FAILURE() << "no error";
    } catch (const TransportError &error) {
        EXPECT_EQ(error, TransportError::invalidItem(B));
    }
    EXPECT_EQ(runner.count(queueStartScript), 0u);
}

TEST_F(MusicAppLogicalQueueTest, AFailedRebuildKeepsTheQueueAsItWas)
{
    startQueue({A, B, C}, 1);
    appPlays(B, 11, 100);
    runner.fail(queueStartScript, ScriptError::timedOut());
    EXPECT_THROW(transport->setRepeat("All"), ScriptError);
    EXPECT_EQ(transport->repeatMode(), "Off");
    EXPECT_EQ(transport->logicalQueue().ids, (std::vector<std::string>{A, B, C}));
    EXPECT_FALSE(transport->logicalShuffleEnabled());
}

} // namespace
} // namespace wheelbox::test
