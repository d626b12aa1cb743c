#include "linux/ArtworkCache.hpp"

#include "linux/ArtworkPictures.hpp"
#include "support/ManualClock.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

namespace wheelbox {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using State = ArtworkCache::State;

// A cover whose two pictures take `bytes` between them: JPEG signatures padded out.
std::vector<ScaledArtwork> coverOf(std::size_t bytes, char fill = 'x')
{
    auto picture = [&](std::size_t size) {
        return test::bytesOf(std::string("\xff\xd8\xff", 3) + std::string(size - 3, fill));
    };
    return {{ArtworkSize::cover, picture(bytes - bytes / 4)}, {ArtworkSize::row, picture(bytes / 4)}};
}

class ArtworkCacheTest : public testing::Test {
  protected:
    ArtworkCacheTest()
    {
        std::string pattern = (fs::temp_directory_path() / "wheelbox-artwork.XXXXXX").string();
        folder_ = fs::path(::mkdtemp(pattern.data())) / "artwork";
    }
    ~ArtworkCacheTest() override { fs::remove_all(folder_.parent_path()); }

    ArtworkCache make(std::uint64_t limit = 10'000)
    {
        return ArtworkCache({.folder = folder_, .byteLimit = limit, .clock = &clock_});
    }

    // Marks a cover's files as last used `ago` before now, as a run long past would have left them.
    void usedAgo(std::uint64_t key, std::chrono::hours ago)
    {
        for (auto size : {ArtworkSize::cover, ArtworkSize::row})
            fs::last_write_time(folder_ / formatArtworkName({key, size}),
                                fs::file_time_type::clock::now() - ago);
    }

    fs::path folder_;
    test::ManualClock clock_;
};

TEST_F(ArtworkCacheTest, KeepsCoversAcrossRunsAndServesOnlyTheirEntries)
{
    {
        auto cache = make();
        EXPECT_EQ(cache.state(1), State::unknown);
        ASSERT_TRUE(cache.store(1, coverOf(400)));
        EXPECT_EQ(cache.state(1), State::present);
        EXPECT_EQ(cache.size(), 400u);
        auto entry = cache.read({1, ArtworkSize::row});
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->mimeType, "image/jpeg");
        EXPECT_EQ(entry->data.size(), 100u);
        EXPECT_FALSE(cache.read({2, ArtworkSize::row}));
    }
    // What a write cut short leaves, and what is not ours, in the folder.
    std::ofstream(folder_ / ".tmp-abc123") << "half";
    std::ofstream(folder_ / formatArtworkName({3, ArtworkSize::cover})) << "\xff\xd8\xff only one size";
    std::ofstream(folder_ / "notes.txt") << "mine";
    fs::create_symlink("/etc/passwd", folder_ / formatArtworkName({4, ArtworkSize::cover}));
    fs::create_symlink("/etc/passwd", folder_ / formatArtworkName({4, ArtworkSize::row}));

    auto cache = make();
    EXPECT_EQ(cache.state(1), State::present) << "kept across runs";
    EXPECT_EQ(cache.read({1, ArtworkSize::cover})->data.size(), 300u);
    EXPECT_EQ(cache.state(3), State::unknown) << "a cover with a size missing is read again";
    EXPECT_EQ(cache.state(4), State::unknown) << "a link is never an entry";
    EXPECT_FALSE(cache.read({4, ArtworkSize::cover}));
    EXPECT_FALSE(fs::exists(folder_ / ".tmp-abc123"));
    EXPECT_FALSE(fs::exists(folder_ / formatArtworkName({3, ArtworkSize::cover})));
    EXPECT_TRUE(fs::exists(folder_ / "notes.txt"));
    EXPECT_EQ(cache.size(), 400u);
}

// An entry that went from under the cache (the user cleared it) or was spoilt: its cover is
// forgotten, so it is read again, and the bytes it took are free.
TEST_F(ArtworkCacheTest, ACoverWhoseEntryCannotBeReadIsForgotten)
{
    // What the entry then holds; nothing: it is gone.
    const struct {
        const char *what;
        std::optional<std::string> left;
    } cases[] = {
        {"removed", std::nullopt},
        {"not a picture", "not a picture"},
        {"empty", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder_);
        auto cache = make();
        ASSERT_TRUE(cache.store(1, coverOf(400)));
        ASSERT_TRUE(cache.store(2, coverOf(400)));
        const auto entry = folder_ / formatArtworkName({1, ArtworkSize::row});
        if (c.left)
            std::ofstream(entry) << *c.left;
        else
            fs::remove(entry);
        EXPECT_FALSE(cache.read({1, ArtworkSize::row}));
        EXPECT_EQ(cache.state(1), State::unknown);
        EXPECT_FALSE(fs::exists(folder_ / formatArtworkName({1, ArtworkSize::cover})));
        EXPECT_EQ(cache.size(), 400u);
        EXPECT_TRUE(cache.read({2, ArtworkSize::row})) << "the others stay";
        ASSERT_TRUE(cache.store(1, coverOf(400))) << "and it is kept again once read again";
        EXPECT_EQ(cache.read({1, ArtworkSize::row})->data.size(), 100u);
    }
}

TEST_F(ArtworkCacheTest, StaysWithinItsBoundByDroppingTheCoversUsedLongestAgo)
{
    {
        auto cache = make(1000);
        for (std::uint64_t key = 1; key <= 3; ++key)
            ASSERT_TRUE(cache.store(key, coverOf(300)));
    }
    usedAgo(1, 3h);
    usedAgo(2, 2h);
    usedAgo(3, 1h);
    {
        // A new run orders by the files' times.
        auto reopened = make(1000);
        ASSERT_TRUE(reopened.read({1, ArtworkSize::cover})) << "a read is a use: cover 1 is now the newest";
        ASSERT_TRUE(reopened.store(4, coverOf(300)));
        EXPECT_EQ(reopened.state(2), State::unknown) << "the oldest went";
        EXPECT_EQ(reopened.state(1), State::present);
        EXPECT_EQ(reopened.state(3), State::present);
        EXPECT_EQ(reopened.state(4), State::present);
        EXPECT_LE(reopened.size(), 1000u);
        EXPECT_FALSE(fs::exists(folder_ / formatArtworkName({2, ArtworkSize::cover})));

        // A cover larger than the whole bound is not kept, and nothing goes for it.
        EXPECT_FALSE(reopened.store(5, coverOf(1001)));
        EXPECT_EQ(reopened.state(5), State::unknown);
        EXPECT_EQ(reopened.state(3), State::present);
    }
    // A smaller bound at the next start trims the folder at once, oldest first.
    auto smaller = make(600);
    EXPECT_LE(smaller.size(), 600u);
    EXPECT_EQ(smaller.state(3), State::unknown);
    EXPECT_EQ(smaller.state(4), State::present);
}

TEST_F(ArtworkCacheTest, ACoverFoundMissingIsRememberedForADayAcrossRuns)
{
    {
        auto cache = make();
        cache.markAbsent(7);
        cache.markAbsent(8);
        EXPECT_EQ(cache.state(7), State::absent);
        ASSERT_TRUE(cache.store(8, coverOf(100))) << "found after all";
        EXPECT_EQ(cache.state(8), State::present);
        cache.markAbsent(8);
        EXPECT_EQ(cache.state(8), State::present) << "a cover kept is not marked missing";
    }
    std::ofstream(folder_ / "absent", std::ios::app) << "garbage\n00000000000000FF notanumber\n\n";
    clock_.advance(23h);
    {
        auto cache = make();
        EXPECT_EQ(cache.state(7), State::absent) << "remembered across runs";
        EXPECT_EQ(cache.state(8), State::present);
        clock_.advance(2h);
        EXPECT_EQ(cache.state(7), State::unknown) << "a day later it is looked for again";
    }
    auto cache = make();
    EXPECT_EQ(cache.state(7), State::unknown);
}

TEST_F(ArtworkCacheTest, AFolderThatCannotBeMadeKeepsNothing)
{
    std::ofstream(folder_.parent_path() / "file") << "in the way";
    ArtworkCache cache({.folder = folder_.parent_path() / "file" / "artwork", .clock = &clock_});
    EXPECT_FALSE(cache.store(1, coverOf(100)));
    cache.markAbsent(2);
    EXPECT_EQ(cache.state(1), State::unknown);
    EXPECT_EQ(cache.state(2), State::unknown);
}

} // namespace
} // namespace wheelbox
