#include "LibraryTestSupport.hpp"

#include "library/LibraryError.hpp"
#include "library/LibraryLists.hpp"

#include <functional>
#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace wheelbox::test {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

constexpr const char *oneSong =
    R"({"songs": [{"id": "1", "title": "One", "album": {"id": "A", "title": "Album"}}]})";
constexpr const char *twoSongs =
    R"({"songs": [{"id": "1", "title": "One", "album": {"id": "A", "title": "Album"}},
                                              {"id": "2", "title": "Two", "album": {"id": "A", "title": "Album"}}]})";
constexpr const char *broken = R"({"error": "The library is locked."})";

TEST(MusicLibraryProvider, CreationLoadsOnce)
{
    ManualClock clock;
    ChangingLibrarySource source(oneSong);
    MusicLibraryProvider provider(source, clock, "");
    EXPECT_EQ(source.openCount(), 1);
    EXPECT_EQ(provider.id(), "music");
    EXPECT_TRUE(provider.isLoaded());
    EXPECT_FALSE(provider.loadError());
}

TEST(MusicLibraryProvider, ReloadsOnlyWhenMoreThanAMinuteOld)
{
    struct Case {
        std::chrono::milliseconds age;
        bool reloads;
    };
    const Case cases[] = {
        {0ms, false}, {60'000ms, false}, {60'001ms, true}, {60'500ms, true}, {3600'000ms, true}};
    for (auto [age, reloads] : cases) {
        SCOPED_TRACE(age.count());
        ManualClock clock;
        ChangingLibrarySource source(oneSong);
        MusicLibraryProvider provider(source, clock, "");
        source.setJSON(twoSongs);
        clock.advance(age);
        EXPECT_EQ(provider.list("music/songs").items.size(), reloads ? 2U : 1U);
        EXPECT_EQ(source.openCount(), reloads ? 2 : 1);
    }
}

TEST(MusicLibraryProvider, StalenessCountsFromTheLastLoad)
{
    ManualClock clock;
    ChangingLibrarySource source(oneSong);
    MusicLibraryProvider provider(source, clock, "");
    clock.advance(50s);
    provider.reload();
    clock.advance(50s);
    provider.list("music");
    EXPECT_EQ(source.openCount(), 2);
}

TEST(MusicLibraryProvider, FailedLoadOffersRetryUntilReloadSucceeds)
{
    ManualClock clock;
    ChangingLibrarySource source(broken);
    MusicLibraryProvider provider(source, clock, "");
    EXPECT_FALSE(provider.isLoaded());
    EXPECT_EQ(provider.loadError(), "The library is locked.");

    // Every path, known or not, answers the unavailable list; nothing reloads by itself.
    source.setJSON(oneSong);
    clock.advance(10min);
    for (const char *path : {"music", "Music", "music/", "music/songs", "nonsense"}) {
        auto list = provider.list(path);
        EXPECT_EQ(list.id, path);
        ASSERT_EQ(list.items.size(), 1U);
        EXPECT_EQ(list.items[0].id, "music-unavailable");
        EXPECT_EQ(list.items[0].title, "Retry Music Library");
        EXPECT_EQ(list.items[0].subtitle, "The library is locked.");
        EXPECT_EQ(list.items[0].kind, MediaItem::Kind::action);
        EXPECT_FALSE(list.items[0].playable);
        EXPECT_FALSE(list.items[0].hasChildren);
    }
    EXPECT_THAT(provider.trackIDs("music/songs"), ElementsAre());
    EXPECT_EQ(source.openCount(), 1);

    provider.reload();
    EXPECT_TRUE(provider.isLoaded());
    EXPECT_FALSE(provider.loadError());
    EXPECT_EQ(provider.list("music/songs").items.size(), 1U);
    EXPECT_THROW(provider.list("Music"), LibraryError);
}

TEST(MusicLibraryProvider, StaleReloadThatFailsShowsTheUnavailableList)
{
    ManualClock clock;
    ChangingLibrarySource source(oneSong);
    MusicLibraryProvider provider(source, clock, "");
    source.setJSON(broken);
    clock.advance(61s);
    EXPECT_EQ(provider.list("music/albums").items.at(0).id, "music-unavailable");
    EXPECT_EQ(provider.loadError(), "The library is locked.");
}

// The source's word that nothing changed makes a reload cheap, whoever asks for it; the rules
// of when to reload stay as they are.
TEST(MusicLibraryProvider, AnUnchangedLibraryKeepsItsSnapshot)
{
    ManualClock clock;
    ChangingLibrarySource source(oneSong);
    MusicLibraryProvider provider(source, clock, "");
    // A read now would find two songs: seeing one shows the snapshot stood.
    source.setJSON(twoSongs);
    source.setUnchanged(true);

    provider.reload();
    clock.advance(61s);
    EXPECT_EQ(provider.list("music/songs").items.size(), 1U);
    EXPECT_EQ(source.openCount(), 1);
    EXPECT_EQ(source.checkCount(), 2);
    // A kept snapshot counts as fresh from the check on.
    clock.advance(60s);
    provider.list("music/songs");
    EXPECT_EQ(source.checkCount(), 2);

    source.setUnchanged(false);
    provider.reload();
    EXPECT_EQ(provider.list("music/songs").items.size(), 2U);
    EXPECT_EQ(source.openCount(), 2);
}

TEST(MusicLibraryProvider, AfterAFailedLoadOnlyAReadWillDo)
{
    ManualClock clock;
    ChangingLibrarySource source(broken);
    MusicLibraryProvider provider(source, clock, "");
    source.setJSON(oneSong);
    source.setUnchanged(true);

    provider.reload();
    EXPECT_EQ(source.openCount(), 2);
    EXPECT_TRUE(provider.isLoaded());
    EXPECT_EQ(provider.list("music/songs").items.size(), 1U);
}

// The device shows rows 0 and 1 of the songs list when the library is read again: the next window
// comes from the new read, and its revision says that rows fetched before it belong to another. A
// library kept as it was keeps its revision: the rows at hand still fit.
TEST(MusicLibraryProvider, AWindowAfterAReadComesFromTheNewLibraryUnderANewRevision)
{
    ManualClock clock;
    ChangingLibrarySource source(twoSongs);
    MusicLibraryProvider provider(source, clock, "");
    auto shown = provider.window("music/songs", 0, 2);
    ASSERT_EQ(shown.count, 2U);

    struct Case {
        const char *name;
        const char *json;
        bool unchanged;
        std::function<void()> read;
        std::uint64_t count;
        std::vector<std::string> titles;
    };
    const Case cases[] = {
        {"refresh", oneSong, false, [&] { provider.reload(); }, 1, {"One"}},
        {"stale", twoSongs, false, [&] { clock.advance(61s); }, 2, {"One", "Two"}},
        {"unchanged", oneSong, true, [&] { provider.reload(); }, 2, {"One", "Two"}},
        {"unchanged and stale", oneSong, true, [&] { clock.advance(61s); }, 2, {"One", "Two"}},
        {"failed", broken, false, [&] { provider.reload(); }, 1, {"Retry Music Library"}},
        {"back", twoSongs, false, [&] { provider.reload(); }, 2, {"One", "Two"}},
    };
    auto revision = shown.revision;
    for (const auto &[name, json, unchanged, read, count, titles] : cases) {
        SCOPED_TRACE(name);
        source.setJSON(json);
        source.setUnchanged(unchanged);
        read();
        auto next = provider.window("music/songs", 0, 5);
        EXPECT_EQ(next.revision != revision, !unchanged);
        EXPECT_EQ(next.revision, provider.revision());
        EXPECT_EQ(next.count, count);
        EXPECT_EQ(titlesOf(next.list), titles);
        revision = next.revision;
        EXPECT_EQ(provider.window("music/songs", 1, 1).revision, revision) << "no read, same revision";
    }
}

TEST(MusicLibraryProvider, TheUnavailableListComesInWindowsToo)
{
    ManualClock clock;
    ChangingLibrarySource source(broken);
    MusicLibraryProvider provider(source, clock, "");
    using Bounds = std::tuple<std::size_t, std::size_t, std::size_t>;
    for (auto [offset, limit, rows] :
         {Bounds{0, 500, 1}, Bounds{0, 0, 0}, Bounds{1, 5, 0}, Bounds{9, 1, 0}}) {
        auto window = provider.window("music/songs", offset, limit);
        EXPECT_EQ(window.count, 1U);
        EXPECT_EQ(window.offset, std::min<std::size_t>(offset, 1));
        EXPECT_FALSE(window.sections);
        ASSERT_EQ(window.list.items.size(), rows);
        if (rows) {
            EXPECT_EQ(window.list.items[0].id, "music-unavailable");
        }
    }
}

TEST(MusicLibraryProvider, MalformedLibraryCountsAsAFailedLoad)
{
    ManualClock clock;
    ChangingLibrarySource source(R"({"songs": [{"title": "No id"}]})");
    MusicLibraryProvider provider(source, clock, "");
    EXPECT_FALSE(provider.isLoaded());
    EXPECT_TRUE(provider.loadError());
}

TEST(UnavailableList, TitleFollowsThePath)
{
    struct Case {
        const char *path;
        const char *title;
    };
    const Case cases[] = {
        {"music", "Music"},
        {"Music/", "Music"},
        {"music/playlists", "Playlists"},
        {"music/playlist/0000000000000001", "Playlists"},
        {"music/artists/all/all", "Artists"},
        {"music/songs", "Songs"},
        {"music/albums/00000000000000B1", "Albums"},
        {"music/genres", "Genres"},
        {"music/Songs", "Music"},
    };
    for (auto [path, title] : cases) {
        EXPECT_EQ(unavailableLibraryList(path, "MPD is gone.").title, title) << path;
    }
}

TEST(UnavailableList, RetryRowSaysWhyNoMusicRowDoesNot)
{
    auto failed = unavailableLibraryList("music/songs", "Can\u2019t reach MPD at /run/mpd/socket.");
    ASSERT_EQ(failed.items.size(), 1U);
    EXPECT_EQ(failed.items[0].title, "Retry Music Library");
    EXPECT_EQ(failed.items[0].subtitle, "Can\u2019t reach MPD at /run/mpd/socket.");

    auto empty = unavailableLibraryList("music", std::nullopt);
    ASSERT_EQ(empty.items.size(), 1U);
    EXPECT_EQ(empty.items[0].title, "No Music Found");
    EXPECT_FALSE(empty.items[0].subtitle);
}

// A library without a song has nothing to browse: every path says so in its one row, with where
// music goes when the source can tell, and selecting it reads the library again.
TEST(MusicLibraryProvider, EmptyLibrarySaysWhereMusicGoes)
{
    const char *empty = R"({"songs": [{"id": "1", "kind": "podcast", "title": "Not music"}],
                            "playlists": [{"id": "1", "name": "Empty", "items": [0]}]})";
    for (std::optional<std::string> where :
         {std::optional<std::string>("Put music in /home/ada/Music."), std::optional<std::string>()}) {
        SCOPED_TRACE(where.value_or("(none)"));
        ManualClock clock;
        ChangingLibrarySource source(empty);
        source.setWhereMusicGoes(where);
        MusicLibraryProvider provider(source, clock, "");
        EXPECT_TRUE(provider.isLoaded());
        EXPECT_FALSE(provider.loadError());
        for (const char *path : {"music", "music/songs", "music/playlists", "music/artists", "nonsense"}) {
            auto list = provider.list(path);
            EXPECT_EQ(list.id, path);
            ASSERT_EQ(list.items.size(), 1U) << path;
            EXPECT_EQ(list.items[0].id, "music-unavailable");
            EXPECT_EQ(list.items[0].title, "No Music Found");
            EXPECT_EQ(list.items[0].subtitle, where);
            EXPECT_EQ(list.items[0].kind, MediaItem::Kind::action);
        }
        EXPECT_THAT(provider.trackIDs("music/songs"), ElementsAre());

        // Music arrives; the refresh the row asks for shows it.
        source.setJSON(oneSong);
        provider.reload();
        EXPECT_EQ(provider.list("music/songs").items.size(), 1U);
        EXPECT_EQ(provider.list("music").items.size(), 5U);
    }
}

} // namespace
} // namespace wheelbox::test
