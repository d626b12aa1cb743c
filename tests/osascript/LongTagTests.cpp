// Songs with a tag longer than a reply line libmpdclient takes, played and read through the built
// tool against an MPD of the test's own: the song is read again one tag at a time.

#include "ScriptFixtures.hpp"
#include "ToolProcess.hpp"
#include "lib/mpd/MpdIdentity.hpp"
#include "support/FixtureMpd.hpp"
#include "support/ServiceEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace wheelbox::osascript {
namespace {

using test::quote;
using test::script;
using wheelbox::test::FixtureMpd;
using wheelbox::test::FixtureSong;
using wheelbox::test::valueFor;

const std::string hugeTitle = valueFor("Title", 6000);
const std::string hugeArtist = valueFor("Artist", 6000);

// Long enough that no stall of a loaded machine between a start and its first look outlasts the
// song: a start is confirmed only while its song plays.
constexpr unsigned duration = 120;

const std::vector<FixtureSong> songs = {
    {"Long", "1 Huge title.wav", {{"Title", hugeTitle}, {"Artist", "Band"}, {"Album", "Album"}}, duration},
    {"Long", "2 Huge artist.wav", {{"Title", "Fine"}, {"Artist", hugeArtist}, {"Album", "Album"}}, duration},
    {"Long", "3 Short.wav", {{"Title", "Short"}, {"Artist", "Band"}, {"Album", "Album"}}, duration},
    // A name that must be quoted on its way back to MPD.
    {"Long", "4 \"Quoted\" \\ ¬.wav", {{"Title", hugeTitle}, {"Album", "Album"}}, duration},
};

// What a track shows: every tag that fits, the file name without its extension for a title that
// does not.
struct Shown {
    std::string uri, title, artist, album;
};

const std::vector<Shown> shown = {
    {"Long/1 Huge title.wav", "1 Huge title", "Band", "Album"},
    {"Long/2 Huge artist.wav", "Fine", "", "Album"},
    {"Long/3 Short.wav", "Short", "Band", "Album"},
    {"Long/4 \"Quoted\" \\ ¬.wav", "4 \"Quoted\" \\ ¬", "", "Album"},
};

// The tracks of a stored playlist, then one found by persistent ID, and whether it exists.
constexpr const char *readTracks = R"(tell application "Music"
  set unitSeparator to ASCII character 31
  set out to ""
  repeat with t in (every track of user playlist "Mixed")
    set out to out & (name of t as text) & unitSeparator & (artist of t as text) & unitSeparator
  end repeat
  set matches to (every track of library playlist 1 whose persistent ID is "⟦trackID⟧")
  set found to item 1 of matches
  return out & (name of found as text) & unitSeparator & (artist of found as text) & unitSeparator & ((exists found) as text)
end tell)";

std::string persistentID(std::string_view uri)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(mpd::songPersistentID(uri)));
    return text;
}

std::vector<std::string> split(std::string text, char separator)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    std::vector<std::string> fields;
    std::istringstream stream(text);
    for (std::string field; std::getline(stream, field, separator);)
        fields.push_back(field);
    return fields;
}

class osascriptLongTagTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        mpd_ = new FixtureMpd(songs, {{"Mixed", "Long/3 Short.wav\nLong/1 Huge title.wav\n"}});
    }

    static void TearDownTestSuite()
    {
        delete mpd_;
        mpd_ = nullptr;
    }

    void SetUp() override
    {
        if (!mpd_ || !mpd_->ready()) {
            if (wheelbox::test::servicesRequired())
                FAIL() << "no MPD to serve the database";
            GTEST_SKIP() << "needs mpd";
        }
        control_.emplace(mpd::MpdConnection::open(mpd_->address(), std::chrono::seconds(5)));
        mpd_run_stop(control_->get());
        mpd_run_clear(control_->get());
        control_->check();
    }

    void TearDown() override
    {
        if (!control_)
            return;
        mpd_run_stop(control_->get());
        mpd_run_clear(control_->get());
        mpd_run_rm(control_->get(), "Queue");
        mpd_connection_clear_error(control_->get());
    }

    test::ToolResult run(const std::string &program)
    {
        return test::runTool(program, {{"MPD_HOST", mpd_->address().host}});
    }

    // Now Playing's fields: persistent ID, name, artist, album, position, duration, state.
    std::vector<std::string> nowPlaying()
    {
        auto reading = run(script("music-now-playing", {}, 10));
        EXPECT_EQ(reading.exitStatus, 0) << reading.error;
        return split(reading.output, '\x1f');
    }

    static inline FixtureMpd *mpd_ = nullptr;
    std::optional<mpd::MpdConnection> control_;
};

TEST_F(osascriptLongTagTest, ASongPlaysAloneAndFromACollectionAndNowPlayingShowsTheTagsThatFit)
{
    for (const auto &song : shown) {
        SCOPED_TRACE(song.uri);
        auto id = persistentID(song.uri);
        auto alone =
            run(script("music-play-track",
                       {{"trackID", quote(id)}, {"settings", ""}, {"pauseAfterStart", "pause"}}, 20));
        ASSERT_EQ(alone.exitStatus, 0) << alone.error;
        auto fields = nowPlaying();
        ASSERT_EQ(fields.size(), 7u);
        EXPECT_EQ(fields[0], id);
        EXPECT_EQ(fields[1], song.title);
        EXPECT_EQ(fields[2], song.artist);
        EXPECT_EQ(fields[3], song.album);
        EXPECT_EQ(fields[5], std::to_string(duration) + ".0");
        EXPECT_EQ(fields[6], "paused");

        // Appended: GCC 12 at -O3 misreads "text" + std::string&& (-Wrestrict, a false positive).
        // The chosen song first, as the device rotates a collection to start with it.
        std::string collection = "\"";
        collection += quote(id);
        collection += "\", \"";
        collection += quote(persistentID("Long/3 Short.wav"));
        collection += '"';
        auto fromCollection = run(script("music-start-queue",
                                         {{"name", "Queue"},
                                          {"startID", quote(id)},
                                          {"trackList", collection},
                                          {"settings", ""},
                                          {"restore", "pause"}},
                                         45));
        ASSERT_EQ(fromCollection.exitStatus, 0) << fromCollection.error;
        EXPECT_EQ(nowPlaying().at(1), song.title);
        mpd_run_stop(control_->get());
        mpd_run_rm(control_->get(), "Queue");
        control_->check();
    }
}

// MPD forgets its current song once the queue has played out; the last one is then read by position.
TEST_F(osascriptLongTagTest, TheLastSongOfAStoppedQueueIsReadTagByTag)
{
    mpd_run_add(control_->get(), "Long/1 Huge title.wav");
    control_->check();

    auto fields = nowPlaying();
    ASSERT_EQ(fields.size(), 7u);
    EXPECT_EQ(fields[1], "1 Huge title");
    EXPECT_EQ(fields[2], "Band");
    EXPECT_EQ(fields[6], "stopped");
}

// One run reads songs of a stored playlist and of a library search over the connection it opened
// again after each too long a line.
TEST_F(osascriptLongTagTest, PlaylistAndLibraryTracksAreReadOverOneRun)
{
    auto read = run(test::wrapInTimeout(
        test::fill(readTracks, {{"trackID", quote(persistentID("Long/2 Huge artist.wav"))}}), 20));
    ASSERT_EQ(read.exitStatus, 0) << read.error;
    EXPECT_EQ(split(read.output, '\x1f'),
              (std::vector<std::string>{"Short", "Band", "1 Huge title", "Band", "Fine", "", "true"}));
}

} // namespace
} // namespace wheelbox::osascript
