// A reload that finds MPD's library unchanged keeps the snapshot; every other reload reads it in
// full. Either way every list answers what a fresh read would, on an MPD of the test's own whose
// songs are files it updates and whose playlists it saves, renames, deletes and edits.
#include "library/MusicLibraryProvider.hpp"
#include "linux/MpdLibrarySource.hpp"
#include "support/FixtureMpd.hpp"
#include "support/ManualClock.hpp"
#include "support/ServiceEnvironment.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <set>

namespace wheelbox::test {
namespace {

using namespace std::chrono_literals;

const std::vector<FixtureSong> fixtureSongs = {
    {"Folk",
     "01 Dawn.wav",
     {{"Title", "Dawn"}, {"Artist", "Aster"}, {"Album", "Morning"}, {"Genre", "Folk"}, {"Track", "1"}}},
    {"Folk",
     "02 Noon.wav",
     {{"Title", "Noon"}, {"Artist", "Aster"}, {"Album", "Morning"}, {"Genre", "Folk"}, {"Track", "2"}}},
    {"Jazz", "Blue.wav", {{"Title", "Blue"}, {"Artist", " Bea "}, {"Album", "Colours"}, {"Genre", "Jazz"}}},
    {"Jazz", "Untagged take.wav", {}},
    {"", "Loose.wav", {{"Title", "Loose"}}},
};

// A source that counts the full reads it passes on.
class CountingSource final : public LibrarySource {
  public:
    explicit CountingSource(LibrarySource &source) : source_(source) {}

    LibraryContents open() override
    {
        ++reads;
        return source_.open();
    }
    bool isUnchangedSinceLastOpen() noexcept override { return source_.isUnchangedSinceLastOpen(); }

    int reads = 0;

  private:
    LibrarySource &source_;
};

// Every list the wheel reaches from "music" through container rows, and the songs without a genre,
// which no row opens.
std::map<std::string, MediaList> everyList(MusicLibraryProvider &provider)
{
    std::map<std::string, MediaList> lists;
    std::deque<std::string> waiting = {"music", "music/genres/"};
    while (!waiting.empty()) {
        auto path = std::move(waiting.front());
        waiting.pop_front();
        if (lists.contains(path))
            continue;
        auto list = provider.list(path);
        for (const auto &row : list.items) {
            if (row.hasChildren)
                waiting.push_back(row.id);
        }
        lists.emplace(path, std::move(list));
    }
    return lists;
}

class MpdLibraryRefreshTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        mpd_.emplace(fixtureSongs, std::map<std::string, std::string>{
                                       {"Mix", "Folk/02 Noon.wav\nJazz/Blue.wav\nGone.wav\n"},
                                       {"Untagged only", "Jazz/Untagged take.wav\n"}});
        if (!mpd_->ready()) {
            if (servicesRequired())
                FAIL() << "no MPD to serve the database";
            GTEST_SKIP() << "needs mpd";
        }
        // From here on the database is what MPD read from the files.
        ASSERT_TRUE(mpd_->update());
        source_.emplace(mpd_->address());
        counting_.emplace(*source_);
        provider_.emplace(*counting_, clock_, "");
        ASSERT_TRUE(provider_->isLoaded()) << provider_->loadError().value_or("");
    }

    // The lists a provider of its own, reading the library afresh, answers.
    std::map<std::string, MediaList> fullRead()
    {
        MpdLibrarySource source(mpd_->address());
        ManualClock clock;
        MusicLibraryProvider provider(source, clock, "");
        EXPECT_TRUE(provider.isLoaded()) << provider.loadError().value_or("");
        return everyList(provider);
    }

    void control(const std::function<bool(mpd_connection *)> &command)
    {
        auto connection = mpd::MpdConnection::open(mpd_->address(), 5s);
        EXPECT_TRUE(command(connection.get()));
        connection.check();
    }

    std::optional<FixtureMpd> mpd_;
    std::optional<MpdLibrarySource> source_;
    std::optional<CountingSource> counting_;
    ManualClock clock_;
    std::optional<MusicLibraryProvider> provider_;
};

TEST_F(MpdLibraryRefreshTest, EveryListAnswersWhatAFullReadWouldAfterEachChange)
{
    struct Change {
        std::string what;
        std::function<void()> make;
        bool reads;
    };
    const Change changes[] = {
        {"nothing", [] {}, false},
        {"a song added",
         [&] {
             mpd_->writeSong(
                 {"Jazz", "Late.wav", {{"Title", "Late"}, {"Artist", "Bea"}, {"Album", "Colours"}}});
             ASSERT_TRUE(mpd_->update());
         },
         true},
        {"a tag edited",
         [&] {
             mpd_->writeSong({"Folk",
                              "01 Dawn.wav",
                              {{"Title", "Dawn Chorus"}, {"Artist", "Aster"}, {"Album", "Morning"}}});
             ASSERT_TRUE(mpd_->update());
         },
         true},
        {"a playlist saved",
         [&] { control([](auto *mpd) { return mpd_run_playlist_add(mpd, "Saved", "Loose.wav"); }); }, true},
        {"a playlist renamed",
         [&] { control([](auto *mpd) { return mpd_run_rename(mpd, "Saved", "Renamed"); }); }, true},
        {"a playlist deleted", [&] { control([](auto *mpd) { return mpd_run_rm(mpd, "Renamed"); }); }, true},
        {"a playlist file edited beside MPD",
         [&] {
             auto file = mpd_->playlistFolder() / "Mix.m3u";
             auto modified = std::filesystem::last_write_time(file);
             std::ofstream(file) << "Loose.wav\nFolk/02 Noon.wav\n";
             std::filesystem::last_write_time(file, modified + 1h);
         },
         true},
        {"MPD restarted",
         [&] {
             mpd_->restart();
             ASSERT_TRUE(mpd_->ready());
         },
         true},
        {"nothing after all that", [] {}, false},
    };
    for (const auto &change : changes) {
        SCOPED_TRACE(change.what);
        change.make();
        auto reads = counting_->reads;
        provider_->reload();
        EXPECT_EQ(counting_->reads - reads, change.reads ? 1 : 0);
        ASSERT_TRUE(provider_->isLoaded()) << provider_->loadError().value_or("");
        auto lists = everyList(*provider_);
        EXPECT_EQ(lists, fullRead());
        // The read just made is the one the next reload stands on.
        provider_->reload();
        EXPECT_EQ(counting_->reads - reads, change.reads ? 1 : 0);
        EXPECT_EQ(everyList(*provider_), lists);
    }
}

// The first list asked for over a minute after a read reloads first, as ever: at the cost of a
// check while nothing changed, and with a full read once something did.
TEST_F(MpdLibraryRefreshTest, AStaleListReadsOnlyWhatChanged)
{
    clock_.advance(61s);
    provider_->list("music/songs");
    EXPECT_EQ(counting_->reads, 1);

    mpd_->writeSong({"", "Later.wav", {{"Title", "Later"}}});
    ASSERT_TRUE(mpd_->update());
    // The check counts as a load: the list stays as it was for another minute.
    EXPECT_NE(provider_->list("music/songs"), fullRead().at("music/songs"));
    clock_.advance(61s);
    EXPECT_EQ(provider_->list("music/songs"), fullRead().at("music/songs"));
    EXPECT_EQ(counting_->reads, 2);
}

} // namespace
} // namespace wheelbox::test
