#include "linux/LinuxArtwork.hpp"

#include "lib/glib/BusConnection.hpp"
#include "lib/mpd/MpdIdentity.hpp"
#include "linux/ArtworkPictures.hpp"
#include "linux/MpdAlbumLocations.hpp"
#include "linux/MpdLibrarySource.hpp"
#include "model/PersistentID.hpp"
#include "support/FakeMpdServer.hpp"
#include "support/ServiceEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>

namespace wheelbox {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::FakeMpdServer;

// A folder of the test's own for the cache, gone afterwards.
struct TemporaryFolder {
    TemporaryFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "wheelbox-covers.XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TemporaryFolder() { fs::remove_all(path); }
    fs::path path;
};

// Counts the covers that arrived, so a test can wait for the next.
class Arrivals {
  public:
    std::function<void()> handler()
    {
        return [this] {
            std::lock_guard guard(lock_);
            ++count_;
            changed_.notify_all();
        };
    }
    bool waitFor(int count, std::chrono::milliseconds timeout = 15s)
    {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, timeout, [&] { return count_ >= count; });
    }
    int count()
    {
        std::lock_guard guard(lock_);
        return count_;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    int count_ = 0;
};

NowPlayingState readingOf(const std::string &persistentID, const std::string &source = "music")
{
    NowPlayingState reading = NowPlayingState::empty();
    reading.source = source;
    reading.persistentID = persistentID;
    reading.title = "Title";
    return reading;
}

std::string songID(const std::string &uri)
{
    return formatPersistentID(mpd::songPersistentID(uri));
}

// Asks until the answer comes or the time is up: what an answer about a cover still being read
// looks like from the worker's side.
template <typename Ask> auto askUntil(Ask ask, std::chrono::milliseconds timeout = 15s)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    auto answer = ask();
    while (!answer && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
        answer = ask();
    }
    return answer;
}

class LinuxArtworkMpdTest : public testing::Test {
  protected:
    void SetUp() override
    {
        WHEELBOX_SERVICE_VARIABLE(host_, "WHEELBOX_TEST_MPD_HOST");
        WHEELBOX_SERVICE_VARIABLE(music_, "WHEELBOX_TEST_MUSIC_DIR");
        address_ = mpd::parseMpdAddress(host_, "");
        control_.emplace(mpd::MpdConnection::open(address_, 5s));
    }

    void play(const std::string &uri)
    {
        auto *connection = control_->get();
        mpd_run_stop(connection);
        mpd_run_clear(connection);
        mpd_run_add(connection, uri.c_str());
        mpd_run_play(connection);
        control_->check();
    }

    LinuxArtworkSettings settings(std::optional<fs::path> musicFolder = std::nullopt)
    {
        return {.cacheFolder = cache_.path / "artwork",
                .mpdAddress = address_,
                .musicFolder = musicFolder,
                .albums = albums_};
    }

    // The cover of what plays now, waiting for it to be read; its name's key, or nothing.
    std::optional<ArtworkName> coverOf(LinuxArtwork &artwork, const std::string &uri, std::uint64_t key)
    {
        const auto reading = readingOf(songID(uri));
        EXPECT_EQ(artwork.nowPlayingArtwork(reading, ArtworkPlayer::music), std::nullopt)
            << uri << ": a cover never read is never there at once";
        // Read, or found missing: the album's state in the cache says which.
        askUntil([&] { return artwork.cache().state(key) != ArtworkCache::State::unknown; });
        auto address =
            askUntil([&] { return artwork.nowPlayingArtwork(reading, ArtworkPlayer::music); }, 200ms);
        if (!address)
            return std::nullopt;
        EXPECT_TRUE(address->starts_with(artworkAddressPrefix)) << *address;
        return parseArtworkName(std::string_view(*address).substr(artworkAddressPrefix.size()));
    }

    std::string host_, music_;
    mpd::MpdAddress address_;
    std::optional<mpd::MpdConnection> control_;
    TemporaryFolder cache_;
    std::shared_ptr<MpdAlbumLocations> albums_ = std::make_shared<MpdAlbumLocations>();
};

std::uint64_t album(const std::string &title, const std::string &albumArtist, const std::string &uri,
                    const std::string &musicBrainzID = "")
{
    return mpd::albumPersistentID(title, musicBrainzID, albumArtist, uri);
}

TEST_F(LinuxArtworkMpdTest, WhatPlaysGetsItsAlbumsCoverFromEverySourceInTurn)
{
    const std::string dawn = "Aurora Fields/Northern Lights/01 Dawn Chorus.flac";
    const std::string reel = "Twin Discs/Double Feature/CD 1/01 First Reel.flac";
    const std::string hello = "The Quotes/Greatest Hits/01 Say Hello.flac";
    const std::string opener = "Other Band/Greatest Hits/01 Other Opener.ogg";
    const std::string loose = "Loose Track.flac";
    const std::string live = "Live/Night One/01 Opening.ogg";
    struct Case {
        const char *what;
        std::string uri;
        std::uint64_t key;
        bool ownMusicFolder;
        std::optional<std::pair<int, int>> cover; // its size, or none
    } cases[] = {
        {"an embedded picture, never enlarged", dawn, album("Northern Lights", "Aurora Fields", dawn), false,
         std::pair{48, 48}},
        {"an embedded picture larger than MPD's chunk", reel, album("Double Feature", "", reel), false,
         std::pair{120, 120}},
        {"a cover.png beside the songs", hello, album("Greatest Hits", "The Quotes", hello), false,
         std::pair{64, 64}},
        {"a Folder.PNG, which only the program's own MPD's folder shows", opener,
         album("Greatest Hits", "Other Band", opener), true, std::pair{56, 56}},
        {"a song without any cover", loose, mpd::songPersistentID(loose), true, std::nullopt},
        {"a cover.jpg that is no picture", live,
         album("Live Nights", "Stage Crew", live, "0b6f8b9c-3c1e-4b7a-9f3e-6d2a1c5e7f01"), true,
         std::nullopt},
    };
    for (const auto &c : cases) {
        TemporaryFolder cache;
        LinuxArtwork artwork(
            {.cacheFolder = cache.path,
             .mpdAddress = address_,
             .musicFolder = c.ownMusicFolder ? std::optional<fs::path>(music_) : std::nullopt});
        Arrivals arrivals;
        artwork.setArrivalHandler(arrivals.handler());
        play(c.uri);
        auto name = coverOf(artwork, c.uri, c.key);
        if (!c.cover) {
            EXPECT_EQ(name, std::nullopt) << c.what;
            EXPECT_EQ(artwork.cache().state(c.key), ArtworkCache::State::absent) << c.what;
            EXPECT_EQ(arrivals.count(), 0) << c.what;
            continue;
        }
        ASSERT_TRUE(name) << c.what;
        EXPECT_EQ(name->key, c.key) << c.what << ": one cover per album";
        EXPECT_EQ(name->size, ArtworkSize::cover);
        EXPECT_TRUE(arrivals.waitFor(1)) << c.what;
        std::optional<ArtworkEntry> entry;
        artwork.open(*name, [&](std::optional<ArtworkEntry> opened) { entry = std::move(opened); });
        ASSERT_TRUE(entry) << c.what;
        EXPECT_EQ(test::pictureSize(entry->data), *c.cover) << c.what;
    }

    // Without its own music folder the Folder.PNG is out of reach.
    TemporaryFolder cache;
    LinuxArtwork artwork({.cacheFolder = cache.path, .mpdAddress = address_});
    play(opener);
    EXPECT_EQ(coverOf(artwork, opener, album("Greatest Hits", "Other Band", opener)), std::nullopt);
}

TEST_F(LinuxArtworkMpdTest, SongsOfOneAlbumShareItsCoverAndAnAlbumRowIsReadWhenThePageAsks)
{
    LinuxArtwork artwork(settings());
    Arrivals arrivals;
    artwork.setArrivalHandler(arrivals.handler());
    const std::string first = "Twin Discs/Double Feature/CD 1/01 First Reel.flac";
    const std::string second = "Twin Discs/Double Feature/CD 2/01 Third Reel.ogg";
    const auto doubleFeature = album("Double Feature", "", first);
    play(first);
    auto cover = coverOf(artwork, first, doubleFeature);
    ASSERT_TRUE(cover);
    play(second);
    // The second disc's song has no picture of its own: its album's is known, and only the song's
    // album has to be told.
    auto shared =
        askUntil([&] { return artwork.nowPlayingArtwork(readingOf(songID(second)), ArtworkPlayer::music); });
    EXPECT_EQ(shared, artworkAddress(*cover));

    // The library read records where each album's songs are; rows are read on the page's request.
    MpdLibrarySource source(address_);
    source.recordAlbumLocations(albums_);
    source.open();
    const std::string hello = "The Quotes/Greatest Hits/01 Say Hello.flac";
    const auto greatestHits = album("Greatest Hits", "The Quotes", hello);
    EXPECT_EQ(artwork.albumArtwork(greatestHits), artworkAddress({greatestHits, ArtworkSize::row}));
    std::promise<std::optional<ArtworkEntry>> row;
    artwork.open({greatestHits, ArtworkSize::row},
                 [&](std::optional<ArtworkEntry> entry) { row.set_value(std::move(entry)); });
    auto future = row.get_future();
    ASSERT_EQ(future.wait_for(15s), std::future_status::ready);
    auto entry = future.get();
    ASSERT_TRUE(entry);
    EXPECT_EQ(test::pictureSize(entry->data), std::pair(64, 64));

    // An album without a cover: nothing, then no address at all; a key no album has: nothing at once.
    const std::string summer = "Compilations/Summer Mix/01 Sunny.flac";
    const auto summerMix = mpd::albumPersistentID("Summer Mix", "", "", summer);
    std::promise<std::optional<ArtworkEntry>> none;
    artwork.open({summerMix, ArtworkSize::row},
                 [&](std::optional<ArtworkEntry> e) { none.set_value(std::move(e)); });
    auto nothing = none.get_future();
    ASSERT_EQ(nothing.wait_for(15s), std::future_status::ready);
    EXPECT_EQ(nothing.get(), std::nullopt);
    EXPECT_EQ(artwork.albumArtwork(summerMix), std::nullopt);
    bool answered = false;
    artwork.open({0x1234, ArtworkSize::row}, [&](std::optional<ArtworkEntry> e) {
        answered = true;
        EXPECT_FALSE(e);
    });
    EXPECT_TRUE(answered);

    // The next run serves the covers read so far from the cache alone, MPD or no MPD.
    LinuxArtwork again({.cacheFolder = cache_.path / "artwork",
                        .mpdAddress = mpd::MpdAddress{"/nonexistent/socket", 0, std::nullopt}});
    std::optional<ArtworkEntry> cached;
    again.open({greatestHits, ArtworkSize::cover},
               [&](std::optional<ArtworkEntry> e) { cached = std::move(e); });
    ASSERT_TRUE(cached);
    EXPECT_EQ(test::pictureSize(cached->data), std::pair(64, 64));
}

TEST_F(LinuxArtworkMpdTest, TheSongPlayedNextHasItsCoverReadAheadSoASkipFindsItAtOnce)
{
    LinuxArtwork artwork(settings());
    const std::string dawn = "Aurora Fields/Northern Lights/01 Dawn Chorus.flac";
    const std::string hello = "The Quotes/Greatest Hits/01 Say Hello.flac";
    const std::string reel = "Twin Discs/Double Feature/CD 1/01 First Reel.flac";
    auto *connection = control_->get();
    mpd_run_stop(connection);
    mpd_run_clear(connection);
    for (const auto &uri : {dawn, hello, reel})
        mpd_run_add(connection, uri.c_str());
    mpd_run_play_pos(connection, 0);
    control_->check();
    ASSERT_TRUE(coverOf(artwork, dawn, album("Northern Lights", "Aurora Fields", dawn)));
    const auto next = album("Greatest Hits", "The Quotes", hello);
    askUntil([&] { return artwork.cache().state(next) == ArtworkCache::State::present; });
    // The skip: the first reading of the next song names its cover.
    mpd_run_next(connection);
    control_->check();
    EXPECT_EQ(artwork.nowPlayingArtwork(readingOf(songID(hello)), ArtworkPlayer::music),
              artworkAddress({next, ArtworkSize::cover}));
    // And the song after it is read ahead in turn.
    const auto after = album("Double Feature", "", reel);
    EXPECT_TRUE(askUntil([&] { return artwork.cache().state(after) == ArtworkCache::State::present; }));
    mpd_run_stop(connection);
}

// An MPD whose current song has no cover anywhere, counting what it is asked.
struct CoverlessMpd {
    std::mutex lock;
    std::map<std::string, int> asked;

    FakeMpdServer::Answer answer()
    {
        return [this](const std::string &line) -> FakeMpdServer::Reply {
            const auto command = line.substr(0, line.find(' '));
            {
                std::lock_guard guard(lock);
                ++asked[command];
            }
            if (command == "currentsong")
                return {"file: Band/Album/01 Song.flac\nAlbum: Album\nAlbumArtist: Band\nTitle: Song\nOK\n"};
            if (command == "albumart")
                return {"ACK [50@0] {albumart} No file exists\n"};
            return FakeMpdServer::ok(); // readpicture: no picture; binarylimit
        };
    }
    int count(const std::string &command)
    {
        std::lock_guard guard(lock);
        return asked[command];
    }
};

TEST(LinuxArtwork, ASongWithoutACoverIsNotAskedForAgainNorAfterARestart)
{
    CoverlessMpd mpd;
    FakeMpdServer server(mpd.answer());
    TemporaryFolder cache;
    const LinuxArtworkSettings settings{.cacheFolder = cache.path,
                                        .mpdAddress = mpd::MpdAddress{server.socketPath(), 0, std::nullopt}};
    const auto reading = readingOf(songID("Band/Album/01 Song.flac"));
    const auto key = mpd::albumPersistentID("Album", "", "Band", "Band/Album/01 Song.flac");
    {
        LinuxArtwork artwork(settings);
        for (int poll = 0; poll < 20; ++poll) {
            EXPECT_EQ(artwork.nowPlayingArtwork(reading, ArtworkPlayer::music), std::nullopt);
            std::this_thread::sleep_for(10ms);
        }
        askUntil([&] { return artwork.cache().state(key) == ArtworkCache::State::absent; });
        for (int poll = 0; poll < 20; ++poll)
            EXPECT_EQ(artwork.nowPlayingArtwork(reading, ArtworkPlayer::music), std::nullopt);
    }
    EXPECT_EQ(mpd.count("currentsong"), 1);
    EXPECT_EQ(mpd.count("albumart"), 1);
    EXPECT_EQ(mpd.count("readpicture"), 1);
    EXPECT_EQ(mpd.count("binarylimit"), 1) << "MPD 0.23 takes larger chunks";

    LinuxArtwork restarted(settings);
    EXPECT_EQ(restarted.nowPlayingArtwork(reading, ArtworkPlayer::music), std::nullopt);
    askUntil([&] { return mpd.count("currentsong") == 2; });
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(mpd.count("albumart"), 1) << "the missing cover is remembered across runs";
    EXPECT_EQ(mpd.count("readpicture"), 1);
}

TEST(LinuxArtwork, AnMpdThatHangsIsLeftAtTheDeadlineAndEndsWithTheObject)
{
    // Greets, then never answers.
    FakeMpdServer server([](const std::string &) { return FakeMpdServer::Reply{"", false}; });
    TemporaryFolder cache;
    auto started = std::chrono::steady_clock::now();
    {
        LinuxArtwork artwork({.cacheFolder = cache.path,
                              .mpdAddress = mpd::MpdAddress{server.socketPath(), 0, std::nullopt},
                              .answerTimeout = 60s,
                              .readDeadline = 120s});
        EXPECT_EQ(artwork.nowPlayingArtwork(readingOf("00000000000000A1"), ArtworkPlayer::music),
                  std::nullopt);
        std::this_thread::sleep_for(300ms);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s) << "destroying it ends the read under way";
}

// An MPD that begins a picture's answer and then trickles it, each byte soon enough for any one
// wait: the read is left at its deadline, as no absent cover, and the thread goes on.
TEST(LinuxArtwork, AnMpdThatTricklesItsAnswerIsLeftAtTheDeadline)
{
    std::string endlessLines = "size: 1000\n";
    for (int line = 0; line < 10'000; ++line)
        endlessLines += "comment: more\n";
    const struct {
        const char *name;
        std::string albumart;
    } cases[] = {
        {"a chunk", "size: 1000\nbinary: 1000\n" + std::string(1000, 'x') + "\nOK\n"},
        {"lines without end", endlessLines + "binary: 0\n\nOK\n"},
    };
    const std::string uri = "Band/Album/01 Song.flac";
    const auto key = mpd::albumPersistentID("Album", "", "Band", uri);
    for (const auto &trickle : cases) {
        SCOPED_TRACE(trickle.name);
        std::mutex lock;
        int songsAsked = 0;
        FakeMpdServer server([&](const std::string &line) -> FakeMpdServer::Reply {
            const auto command = line.substr(0, line.find(' '));
            if (command == "currentsong") {
                std::lock_guard guard(lock);
                ++songsAsked;
                return {"file: " + uri + "\nAlbum: Album\nAlbumArtist: Band\nTitle: Song\nOK\n"};
            }
            if (command == "albumart")
                return {trickle.albumart, false, 50ms};
            return FakeMpdServer::ok();
        });
        TemporaryFolder cache;
        LinuxArtwork artwork({.cacheFolder = cache.path,
                              .mpdAddress = mpd::MpdAddress{server.socketPath(), 0, std::nullopt},
                              .answerTimeout = 1s,
                              .readDeadline = 1s,
                              .retryAfter = 0ms});
        const auto reading = readingOf(songID(uri));
        // The song is read again once the first read has been left: the thread is free.
        EXPECT_TRUE(askUntil(
            [&] {
                artwork.nowPlayingArtwork(reading, ArtworkPlayer::music);
                std::lock_guard guard(lock);
                return songsAsked >= 2;
            },
            15s));
        EXPECT_NE(artwork.cache().state(key), ArtworkCache::State::absent);
    }
}

TEST(LinuxArtwork, SpotifysArtworkAddressIsReadFromDisk)
{
    std::string busAddress, busName;
    WHEELBOX_SERVICE_VARIABLE(busAddress, "WHEELBOX_TEST_DBUS_ADDRESS");
    WHEELBOX_SERVICE_VARIABLE(busName, "WHEELBOX_TEST_MPRIS_NAME");
    TemporaryFolder folder;
    const auto picturePath =
        fs::temp_directory_path() / ("wheelbox-art-" + std::to_string(::getpid()) + ".png");
    {
        auto picture = test::makePicture(300, 300, "png");
        std::ofstream(picturePath, std::ios::binary)
            .write(reinterpret_cast<const char *>(picture.data()),
                   static_cast<std::streamsize>(picture.size()));
    }
    auto bus = glib::connectBus(busAddress, 5s);
    auto configure = [&](const std::string &url, const std::string &artUrl,
                         const std::string &album = "Cover Album") {
        GVariantBuilder metadata;
        g_variant_builder_init(&metadata, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&metadata, "{sv}", "mpris:trackid",
                              g_variant_new_object_path("/com/spotify/track/1"));
        g_variant_builder_add(&metadata, "{sv}", "xesam:url", g_variant_new_string(url.c_str()));
        g_variant_builder_add(&metadata, "{sv}", "xesam:album", g_variant_new_string(album.c_str()));
        const char *artists[] = {"Cover Artist", nullptr};
        g_variant_builder_add(&metadata, "{sv}", "xesam:artist", g_variant_new_strv(artists, -1));
        if (!artUrl.empty())
            g_variant_builder_add(&metadata, "{sv}", "mpris:artUrl", g_variant_new_string(artUrl.c_str()));
        GVariantBuilder settings;
        g_variant_builder_init(&settings, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&settings, "{sv}", "PlaybackStatus", g_variant_new_string("Playing"));
        g_variant_builder_add(&settings, "{sv}", "Metadata", g_variant_builder_end(&metadata));
        GError *error = nullptr;
        glib::VariantPtr reply(g_dbus_connection_call_sync(
            bus.get(), busName.c_str(), "/com/velto/test/StubPlayer", "com.velto.test.StubPlayer",
            "Configure", g_variant_new("(a{sv})", &settings), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000,
            nullptr, &error));
        ASSERT_TRUE(reply) << (error ? error->message : "");
    };

    LinuxArtwork artwork({.cacheFolder = folder.path,
                          .busAddress = busAddress,
                          .spotifyBusName = busName,
                          .retryAfter = 100ms});
    Arrivals arrivals;
    artwork.setArrivalHandler(arrivals.handler());
    configure("spotify:track:1", "file://" + picturePath.string());
    const auto reading = readingOf("spotify:track:1", "system");
    EXPECT_EQ(artwork.nowPlayingArtwork(reading, ArtworkPlayer::spotify), std::nullopt);
    ASSERT_TRUE(arrivals.waitFor(1));
    auto address = artwork.nowPlayingArtwork(reading, ArtworkPlayer::spotify);
    ASSERT_TRUE(address);
    auto name = parseArtworkName(std::string_view(*address).substr(artworkAddressPrefix.size()));
    ASSERT_TRUE(name);
    std::optional<ArtworkEntry> entry;
    artwork.open(*name, [&](std::optional<ArtworkEntry> opened) { entry = std::move(opened); });
    ASSERT_TRUE(entry);
    EXPECT_EQ(test::pictureSize(entry->data), std::pair(168, 168));

    // Another track of the album shares the cover; a track without artwork has none.
    configure("spotify:track:2", "file://" + picturePath.string());
    EXPECT_EQ(askUntil([&] {
                  return artwork.nowPlayingArtwork(readingOf("spotify:track:2", "system"),
                                                   ArtworkPlayer::spotify);
              }),
              address);
    configure("spotify:track:3", "");
    const auto bare = readingOf("spotify:track:3", "system");
    artwork.nowPlayingArtwork(bare, ArtworkPlayer::spotify);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(artwork.nowPlayingArtwork(bare, ArtworkPlayer::spotify), address)
        << "no artwork address: the album's cover, already known, stands";

    // No address yet, or one that cannot be fetched this time, tells nothing of an album's cover:
    // it is asked for again, and comes once the player names it.
    const struct {
        const char *what;
        std::string artUrl;
    } notYet[] = {
        {"no address yet", ""},
        {"a server that cannot be reached now", "https://127.0.0.1:1/cover.png"},
    };
    int track = 10;
    for (const auto &first : notYet) {
        SCOPED_TRACE(first.what);
        const std::string url = "spotify:track:" + std::to_string(++track);
        const std::string album = "Album " + std::to_string(track);
        const auto later = readingOf(url, "system");
        configure(url, first.artUrl, album);
        EXPECT_EQ(artwork.nowPlayingArtwork(later, ArtworkPlayer::spotify), std::nullopt);
        std::this_thread::sleep_for(300ms);
        configure(url, "file://" + picturePath.string(), album);
        auto cover = askUntil([&] { return artwork.nowPlayingArtwork(later, ArtworkPlayer::spotify); });
        ASSERT_TRUE(cover);
        EXPECT_NE(cover, address) << "a cover of its own album";
    }
    fs::remove(picturePath);
}

} // namespace
} // namespace wheelbox
