// The road a song takes from the device's list to the speaker: the library lists it from MPD, and
// the identifier in its row plays it through the script runner and wheelbox-osascript. Both sides
// compute identifiers on their own, so this is where a disagreement would show.
#include "lib/mpd/MpdIdentity.hpp"
#include "library/MusicLibraryProvider.hpp"
#include "linux/MpdLibrarySource.hpp"
#include "model/PersistentID.hpp"
#include "platform/AutomationTool.hpp"
#include "platform/Clock.hpp"
#include "support/ServiceEnvironment.hpp"
#include "transport/AppleScript.hpp"
#include "transport/ScriptText.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

namespace wheelbox::test {
namespace {

constexpr char unitSeparator = '\x1f';

class LibraryPlayback : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string host;
        WHEELBOX_SERVICE_VARIABLE(host, "WHEELBOX_TEST_MPD_HOST");
        // The one song whose file was deleted after the database scan cannot play.
        if (auto gone = serviceVariable("WHEELBOX_TEST_GONE_URI"))
            goneID_ = formatPersistentID(mpd::songPersistentID(*gone));
        // The script tool finds MPD the way every MPD client does.
        setenv("MPD_HOST", host.c_str(), 1);
        overrideAutomationToolPath(WHEELBOX_OSASCRIPT_PATH);
        provider_.emplace(source_, Clock::system(), "");
        ASSERT_TRUE(provider_->isLoaded()) << provider_->loadError().value_or("");
    }

    void TearDown() override
    {
        if (provider_)
            AppleScript::run("tell application \"Music\" to pause", 8);
        overrideAutomationToolPath(std::nullopt);
    }

    // Plays one song by the identifier its row carries; answers what the player then plays.
    std::string play(const std::string &persistentID)
    {
        auto id = escapeAppleScriptString(persistentID);
        auto reply =
            AppleScript::run("tell application \"Music\"\n"
                             "  play item 1 of (every track of library playlist 1 whose persistent ID is \"" +
                                 id +
                                 "\")\n"
                                 "  return (persistent ID of current track) & (ASCII character 31) & "
                                 "(name of current track)\n"
                                 "end tell",
                             12);
        return reply.value_or("");
    }

    MpdLibrarySource source_;
    std::optional<MusicLibraryProvider> provider_;
    std::string goneID_;
};

TEST_F(LibraryPlayback, EverySongRowPlaysThatSong)
{
    auto songs = provider_->list("music/songs");
    ASSERT_FALSE(songs.items.empty());
    for (const auto &row : songs.items) {
        SCOPED_TRACE(row.title);
        ASSERT_TRUE(row.id.starts_with(trackIDPrefix));
        auto id = row.id.substr(trackIDPrefix.size());
        if (id == goneID_)
            continue;
        EXPECT_EQ(play(id), id + unitSeparator + row.title);
    }
}

TEST_F(LibraryPlayback, CollectionsPlayFromTheirTrackIDs)
{
    auto playlists = provider_->list("music/playlists");
    auto albums = provider_->list("music/albums");
    ASSERT_FALSE(playlists.items.empty());
    ASSERT_FALSE(albums.items.empty());
    // The last album that can play: the gone song's album cannot.
    auto album = std::find_if(albums.items.rbegin(), albums.items.rend(), [&](const MediaItem &item) {
        auto ids = provider_->trackIDs(item.id);
        return std::find(ids.begin(), ids.end(), goneID_) == ids.end();
    });
    ASSERT_NE(album, albums.items.rend());
    for (const auto *collection : {&playlists.items.front(), &*album}) {
        SCOPED_TRACE(collection->id);
        auto ids = provider_->trackIDs(collection->id);
        ASSERT_FALSE(ids.empty());
        auto reply = play(ids.back());
        EXPECT_TRUE(reply.starts_with(ids.back() + unitSeparator)) << reply;
    }
}

// A file without a Title tag is listed, sorted, collected and played by its file name, and Now
// Playing calls it by the same name.
TEST_F(LibraryPlayback, AnUntaggedSongGoesByItsFileNameEverywhere)
{
    const auto id = formatPersistentID(mpd::songPersistentID("The Quotes/Greatest Hits/02 Untitled.flac"));
    const auto row = std::string(trackIDPrefix) + id;
    auto rowsOf = [&](const std::string &path) {
        std::vector<std::pair<std::string, std::string>> rows;
        for (const auto &item : provider_->list(path).items)
            rows.emplace_back(item.id, item.title);
        return rows;
    };

    // Digits sort before letters.
    auto songs = rowsOf("music/songs");
    ASSERT_FALSE(songs.empty());
    EXPECT_EQ(songs.front(), std::pair(row, std::string("02 Untitled")));
    auto playlists = rowsOf("music/playlists");
    auto only = std::find_if(playlists.begin(), playlists.end(),
                             [](const auto &playlist) { return playlist.second == "Only Untitled"; });
    ASSERT_NE(only, playlists.end());
    EXPECT_EQ(rowsOf(only->first), (std::vector{std::pair(row, std::string("02 Untitled"))}));
    auto albums = rowsOf("music/albums");
    auto hits = std::find_if(albums.begin(), albums.end(), [&](const auto &album) {
        auto ids = provider_->trackIDs(album.first);
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    });
    ASSERT_NE(hits, albums.end());
    EXPECT_EQ(provider_->trackIDs(hits->first).at(1), id) << "track 2 of its album";

    EXPECT_EQ(play(id), id + unitSeparator + "02 Untitled");
}

} // namespace
} // namespace wheelbox::test
