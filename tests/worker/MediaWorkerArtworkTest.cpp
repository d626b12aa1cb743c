#include "worker/MediaWorkerFixture.hpp"

#include "library/PathToken.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace wheelbox {
namespace {

using namespace std::chrono_literals;
using test::StoredDefaults;
using test::WorkerRig;
using testing::ElementsAre;

// Covers known by song and by album; everything asked is recorded.
class FakeArtworkSource final : public ArtworkSource {
  public:
    std::optional<std::string> nowPlayingArtwork(const NowPlayingState &reading,
                                                 ArtworkPlayer player) override
    {
        asked.push_back({reading.persistentID.value_or(""), player});
        auto found = reading.persistentID ? covers.find(*reading.persistentID) : covers.end();
        return found == covers.end() ? std::nullopt : std::optional<std::string>(found->second);
    }
    std::optional<std::string> albumArtwork(std::uint64_t albumID) override
    {
        if (albumsWithout.contains(albumID))
            return std::nullopt;
        return artworkAddress({albumID, ArtworkSize::row});
    }
    void setArrivalHandler(std::function<void()> handler) override { arrival = std::move(handler); }

    std::map<std::string, std::string> covers;
    std::set<std::uint64_t> albumsWithout;
    std::vector<std::pair<std::string, ArtworkPlayer>> asked;
    std::function<void()> arrival;
};

const boost::json::value coverA1 = "velto://app/artwork/00000000000000B1-168";

TEST(MediaWorkerArtwork, AReadingCarriesItsCoverAndACoverArrivingLaterIsPushedOnItsOwn)
{
    FakeArtworkSource artwork;
    WorkerRig rig(StoredDefaults{{"activeTransport", "music"}}, &artwork);
    auto ready = rig.handle("ready").result->as_object();
    ASSERT_TRUE(ready.at("nowPlaying").as_object().contains("artwork"));
    EXPECT_TRUE(ready.at("nowPlaying").at("artwork").is_null()) << "null while none is known";
    EXPECT_EQ(rig.worker->pollNowPlaying({}), std::nullopt);
    EXPECT_EQ(rig.worker->artworkChange(), std::nullopt) << "no cover came";

    // The cover arrives two seconds after the reading it belongs to.
    artwork.covers[test::trackA1] = std::string(coverA1.as_string());
    rig.clock.advance(2s);
    auto pushed = rig.worker->artworkChange();
    ASSERT_TRUE(pushed);
    auto expected = toJSON(WorkerRig::musicReading()).as_object();
    expected["artwork"] = coverA1;
    expected["elapsed"] = 32.0; // the song played on meanwhile
    EXPECT_EQ(*pushed, expected);
    EXPECT_EQ(rig.worker->artworkChange(), std::nullopt);
    EXPECT_EQ(rig.worker->pollNowPlaying({}), std::nullopt) << "the reading itself did not change";
    EXPECT_EQ(rig.worker->previousNowPlaying().elapsed, 30.0);

    // Every reading the worker writes carries it from now on.
    EXPECT_EQ(rig.handle("getNowPlaying").result->at("artwork"), coverA1);
    auto status = rig.handle("pause");
    EXPECT_EQ(status.nowPlaying->at("artwork"), coverA1);
    EXPECT_EQ(status.result->at("nowPlaying").at("artwork"), coverA1);

    // Another song without a cover: the poll pushes it with null.
    rig.runner.answer(test::musicReadingScript, test::nowPlayingReply(test::trackA2, 0, 100, "playing"));
    auto next = rig.worker->pollNowPlaying({});
    ASSERT_TRUE(next);
    EXPECT_TRUE(next->at("artwork").is_null());
    for (const auto &[id, player] : artwork.asked)
        EXPECT_EQ(player, ArtworkPlayer::music) << id;
}

TEST(MediaWorkerArtwork, WithoutCoversNothingCarriesTheField)
{
    WorkerRig rig(StoredDefaults{{"activeTransport", "music"}});
    EXPECT_FALSE(rig.handle("ready").result->at("nowPlaying").as_object().contains("artwork"));
    EXPECT_FALSE(rig.handle("getNowPlaying").result->as_object().contains("artwork"));
    EXPECT_EQ(rig.worker->artworkChange(), std::nullopt);
    auto albums = rig.handle("getList", {{"path", "music/albums"}});
    for (const auto &row : albums.result->at("items").as_array())
        EXPECT_FALSE(row.as_object().contains("artwork"));
}

TEST(MediaWorkerArtwork, AlbumRowsCarryTheirPictureAndNoOtherRowDoes)
{
    FakeArtworkSource artwork;
    WorkerRig rig({}, &artwork);
    const std::string band = "music/artists/" + encodePathToken("Band");
    const std::string album = "00000000000000B1";
    const std::string picture = "velto://app/artwork/" + album + "-64";
    struct Case {
        std::string path;
        std::vector<std::pair<std::string, std::optional<std::string>>> rows; // id, artwork
    } cases[] = {
        {"music/albums", {{"music/albums/" + album, picture}}},
        {"music/artists/all",
         {{"music/artists/all/all", std::nullopt}, {"music/artists/all/" + album, picture}}},
        {band, {{band + "/all", std::nullopt}, {band + "/" + album, picture}}},
        {"music/artists", {{"music/artists/all", std::nullopt}, {band, std::nullopt}}},
        {"music",
         {{"music/playlists", std::nullopt},
          {"music/artists", std::nullopt},
          {"music/albums", std::nullopt},
          {"music/songs", std::nullopt},
          {"music/genres", std::nullopt}}},
        {"music/albums/" + album,
         {{"music-track:" + std::string(test::trackA1), std::nullopt},
          {"music-track:" + std::string(test::trackA2), std::nullopt},
          {"music-track:" + std::string(test::trackA3), std::nullopt},
          {"music-track:" + std::string(test::trackA4), std::nullopt}}},
    };
    for (const auto &c : cases) {
        auto list = rig.handle("getList", {{"path", c.path}}).result->as_object();
        std::vector<std::pair<std::string, std::optional<std::string>>> rows;
        for (const auto &row : list.at("items").as_array()) {
            const auto &object = row.as_object();
            std::optional<std::string> address;
            if (const auto *value = object.if_contains("artwork"))
                address = std::string(value->as_string());
            rows.emplace_back(std::string(object.at("id").as_string()), address);
        }
        EXPECT_EQ(rows, c.rows) << c.path;
    }

    // An album known to have no cover gets no address: the page shows its placeholder at once.
    artwork.albumsWithout.insert(0xB1);
    auto list = rig.handle("refreshLibrary", {{"path", "music/albums"}}).result->as_object();
    EXPECT_FALSE(list.at("items").at(0).as_object().contains("artwork"));
}

TEST(MediaWorkerArtwork, SpotifysReadingsAskForSpotifysCover)
{
    FakeArtworkSource artwork;
    WorkerRig rig({}, &artwork);
    rig.runner.answer(test::musicReadingScript, test::nowPlayingReply(test::trackA1, 30, 100, "paused"));
    rig.spotifyPlays();
    auto pushed = rig.worker->pollNowPlaying({});
    ASSERT_TRUE(pushed);
    ASSERT_EQ(pushed->at("persistentID"), test::spotifyURL);
    ASSERT_FALSE(artwork.asked.empty());
    EXPECT_EQ(artwork.asked.back(), std::make_pair(std::string(test::spotifyURL), ArtworkPlayer::spotify));
}

TEST(MediaWorkerArtwork, TheArrivalHandlerReachesTheSource)
{
    FakeArtworkSource artwork;
    WorkerRig rig({}, &artwork);
    int arrivals = 0;
    rig.worker->setArtworkArrivalHandler([&] { ++arrivals; });
    ASSERT_TRUE(artwork.arrival);
    artwork.arrival();
    EXPECT_EQ(arrivals, 1);
}

} // namespace
} // namespace wheelbox
