#include "linux/MpdLibrarySource.hpp"

#include "lib/mpd/MpdIdentity.hpp"
#include "support/FakeMpdServer.hpp"
#include "support/ServiceEnvironment.hpp"

#include <boost/json.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>

namespace wheelbox {
namespace {

using test::FakeMpdServer;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// What tests/fixtures/make-library wrote: each track's URI and its tags exactly as written.
struct ManifestTrack {
    std::string uri;
    std::map<std::string, std::string> tags;
    double seconds = 0;

    std::string tag(const std::string &name) const
    {
        auto found = tags.find(name);
        return found == tags.end() ? std::string() : found->second;
    }
    std::optional<std::string> optionalTag(const std::string &name) const
    {
        auto value = tag(name);
        return value.empty() ? std::nullopt : std::optional<std::string>(value);
    }
};

struct ManifestPlaylist {
    std::string name;
    std::vector<std::string> entries;
    std::vector<std::string> missing;
};

struct Manifest {
    std::vector<ManifestTrack> tracks;
    std::vector<ManifestPlaylist> playlists;
};

std::vector<std::string> strings(const boost::json::value &array)
{
    std::vector<std::string> result;
    for (auto &item : array.as_array())
        result.emplace_back(item.as_string());
    return result;
}

Manifest readManifest(const std::string &path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    auto root = boost::json::parse(text.str()).as_object();
    Manifest manifest;
    for (auto &item : root.at("tracks").as_array()) {
        ManifestTrack track;
        for (auto &[key, value] : item.as_object()) {
            if (key == "uri")
                track.uri = value.as_string();
            else if (key == "duration")
                track.seconds = value.to_number<double>();
            else if (value.is_string())
                track.tags[std::string(key)] = value.as_string();
        }
        manifest.tracks.push_back(std::move(track));
    }
    for (auto &item : root.at("playlists").as_array()) {
        auto &object = item.as_object();
        manifest.playlists.push_back(ManifestPlaylist{std::string(object.at("name").as_string()),
                                                      strings(object.at("entries")),
                                                      strings(object.at("missing"))});
    }
    return manifest;
}

std::vector<std::uint64_t> songIDs(const LibraryContents &contents)
{
    std::vector<std::uint64_t> ids;
    for (auto &song : contents.songs)
        ids.push_back(song.persistentID);
    return ids;
}

// The fixture library in the private MPD of tests/services/up.
class MpdLibrarySourceTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        WHEELBOX_SERVICE_VARIABLE(mpdHost_, "WHEELBOX_TEST_MPD_HOST");
        std::string manifestPath;
        WHEELBOX_SERVICE_VARIABLE(manifestPath, "WHEELBOX_TEST_MANIFEST");
        manifest_ = readManifest(manifestPath);
    }

    LibraryContents read(MpdLibraryReadOptions options = {}) const
    {
        return MpdLibrarySource(mpd::parseMpdAddress(mpdHost_, ""), options).open();
    }

    // The one song with this URI's identifier; fails the test when there is not exactly one.
    static const LibrarySong *song(const LibraryContents &contents, const std::string &uri)
    {
        auto id = mpd::songPersistentID(uri);
        auto matches = std::count_if(contents.songs.begin(), contents.songs.end(),
                                     [&](auto &song) { return song.persistentID == id; });
        EXPECT_EQ(matches, 1) << uri;
        auto found = std::find_if(contents.songs.begin(), contents.songs.end(),
                                  [&](auto &song) { return song.persistentID == id; });
        return found == contents.songs.end() ? nullptr : &*found;
    }

    static const LibraryPlaylist *playlist(const LibraryContents &contents, const std::string &name)
    {
        auto found = std::find_if(contents.playlists.begin(), contents.playlists.end(),
                                  [&](auto &playlist) { return playlist.name == name; });
        EXPECT_NE(found, contents.playlists.end()) << name;
        return found == contents.playlists.end() ? nullptr : &*found;
    }

    std::string mpdHost_;
    Manifest manifest_;
};

// Titles arrive as tagged: Unicode, a quote and a backslash; a song without one goes by its file
// name without the extension. Artists keep their padding: the provider trims them.
TEST_F(MpdLibrarySourceTest, DeliversEveryDatabaseSongOnceWithItsTags)
{
    auto contents = read();

    ASSERT_EQ(contents.songs.size(), manifest_.tracks.size());
    for (auto &track : manifest_.tracks) {
        SCOPED_TRACE(track.uri);
        auto *found = song(contents, track.uri);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->mediaKind, LibraryMediaKind::song);
        if (!track.tag("title").empty()) {
            EXPECT_EQ(found->title, track.tag("title"));
        }
        EXPECT_EQ(found->artistName, track.optionalTag("artist"));
        EXPECT_EQ(found->album.title, track.optionalTag("album"));
        EXPECT_EQ(found->genre, track.optionalTag("genre"));
        EXPECT_EQ(found->album.artistName, track.optionalTag("albumartist"));
        EXPECT_NEAR(found->duration, track.seconds, 0.05);
    }
    EXPECT_EQ(song(contents, "The Quotes/Greatest Hits/02 Untitled.flac")->title, "02 Untitled");
    EXPECT_EQ(song(contents, "The Quotes/Greatest Hits/01 Say Hello.flac")->title,
              "Say \"Hello\" \\ Goodbye");
}

TEST_F(MpdLibrarySourceTest, AlbumIdentifiersComeFromTheSharedHelper)
{
    auto contents = read();

    for (auto &track : manifest_.tracks) {
        SCOPED_TRACE(track.uri);
        auto *found = song(contents, track.uri);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->album.persistentID,
                  mpd::albumPersistentID(track.tag("album"), track.tag("musicbrainz_albumid"),
                                         track.tag("albumartist"), track.uri));
    }
}

TEST_F(MpdLibrarySourceTest, SongsGroupIntoAlbums)
{
    struct Case {
        const char *what;
        std::string first;
        std::string second;
        bool sameAlbum;
    };
    const Case cases[] = {
        {"a compilation without an album artist stays one album", "Compilations/Summer Mix/01 Sunny.flac",
         "Compilations/Summer Mix/02 Waves.ogg", true},
        {"CD 1 and CD 2 folders are one album", "Twin Discs/Double Feature/CD 1/01 First Reel.flac",
         "Twin Discs/Double Feature/CD 2/01 Third Reel.ogg", true},
        {"a MusicBrainz album ID joins two folders", "Live/Night One/01 Opening.ogg",
         "Live/Night Two/01 Encore.ogg", true},
        {"same-titled albums by different album artists stay two",
         "The Quotes/Greatest Hits/01 Say Hello.flac", "Other Band/Greatest Hits/01 Other Opener.ogg", false},
    };
    auto contents = read();

    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto *first = song(contents, c.first);
        auto *second = song(contents, c.second);
        ASSERT_TRUE(first && second);
        EXPECT_EQ(first->album.persistentID == second->album.persistentID, c.sameAlbum);
    }
}

TEST_F(MpdLibrarySourceTest, TrackAndDiscNumbersComeFromTheirTags)
{
    struct Case {
        std::string uri;
        int track;
        int disc;
    };
    // Tagged "1/3" + "1/1", "01", "3/12", "1/1" + "2/2", and nothing at all.
    const Case cases[] = {
        {"Aurora Fields/Northern Lights/01 Dawn Chorus.flac", 1, 1},
        {"The Quotes/Greatest Hits/01 Say Hello.flac", 1, 0},
        {"The Quotes/Greatest Hits/03 Plain Song.ogg", 3, 0},
        {"Twin Discs/Double Feature/CD 2/01 Third Reel.ogg", 1, 2},
        {"Loose Track.flac", 0, 0},
    };
    auto contents = read();

    for (auto &c : cases) {
        SCOPED_TRACE(c.uri);
        auto *found = song(contents, c.uri);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->trackNumber, c.track);
        EXPECT_EQ(found->album.discNumber, c.disc);
    }
}

TEST_F(MpdLibrarySourceTest, StoredPlaylistsHoldTheirSongsInOrderWithoutMissingEntries)
{
    auto contents = read();

    ASSERT_FALSE(manifest_.playlists.empty());
    for (auto &expected : manifest_.playlists) {
        SCOPED_TRACE(expected.name);
        auto *found = playlist(contents, expected.name);
        ASSERT_NE(found, nullptr);
        std::vector<std::string> uris;
        for (auto position : found->items) {
            ASSERT_LT(position, contents.songs.size());
            for (auto &track : manifest_.tracks) {
                if (mpd::songPersistentID(track.uri) == contents.songs[position].persistentID)
                    uris.push_back(track.uri);
            }
        }
        std::vector<std::string> present;
        std::copy_if(expected.entries.begin(), expected.entries.end(), std::back_inserter(present),
                     [&](auto &entry) {
                         return std::count(expected.missing.begin(), expected.missing.end(), entry) == 0;
                     });
        EXPECT_EQ(uris, present);
        EXPECT_EQ(found->persistentID, mpd::playlistPersistentID(expected.name));
        EXPECT_TRUE(found->isVisible);
        EXPECT_FALSE(found->isPrimary);
        EXPECT_EQ(found->distinguishedKind, LibraryDistinguishedKind::none);
        EXPECT_EQ(found->kind, LibraryPlaylistKind::regular);
    }
    // The fixture's "Road Trip" lists a deleted file between two songs and one song twice.
    auto *roadTrip = playlist(contents, "Road Trip");
    ASSERT_NE(roadTrip, nullptr);
    ASSERT_EQ(roadTrip->items.size(), 3u);
    EXPECT_EQ(roadTrip->items[0], roadTrip->items[2]);
}

// Page boundaries: one song per page, a short last page, a last page that is exactly full (the
// next, empty page ends the read), and a single page.
TEST_F(MpdLibrarySourceTest, EveryPageSizeReadsTheSameLibrary)
{
    auto whole = read();
    auto count = whole.songs.size();
    ASSERT_GT(count, 2u);

    for (std::size_t pageSize : {std::size_t(1), std::size_t(4), count - 1, count, count + 1}) {
        SCOPED_TRACE(pageSize);
        auto paged = read(MpdLibraryReadOptions{std::chrono::seconds(10), pageSize});
        EXPECT_EQ(songIDs(paged), songIDs(whole));
        // Only the fixture's playlists: other tests may add and remove their own meanwhile.
        for (auto &expected : manifest_.playlists) {
            auto *before = playlist(whole, expected.name);
            auto *after = playlist(paged, expected.name);
            ASSERT_TRUE(before && after);
            EXPECT_EQ(after->items, before->items) << expected.name;
        }
    }
}

TEST_F(MpdLibrarySourceTest, FindsMpdThroughMpdHost)
{
    ASSERT_EQ(setenv("MPD_HOST", mpdHost_.c_str(), 1), 0);
    unsetenv("MPD_PORT");

    auto contents = MpdLibrarySource().open();

    unsetenv("MPD_HOST");
    EXPECT_EQ(contents.songs.size(), manifest_.tracks.size());
}

TEST(MpdLibrarySourceErrorTest, NoMpdAtTheAddressIsALibrarySourceErrorNamingIt)
{
    MpdLibrarySource source(mpd::MpdAddress{"/nonexistent/wheelbox/mpd/socket", 0, std::nullopt});

    try {
        source.open();
        FAIL() << "open() succeeded";
    } catch (const LibrarySourceError &error) {
        EXPECT_THAT(error.what(), HasSubstr("Can\u2019t reach MPD at /nonexistent/wheelbox/mpd/socket"));
    }
}

// A scripted MPD whose database holds `songs` (each song's reply lines); `other` answers every
// other command.
struct ScriptedLibrary {
    std::vector<std::string> songs;
    std::function<FakeMpdServer::Reply(const std::string &command)> other = [](auto &) {
        return FakeMpdServer::ok();
    };

    FakeMpdServer::Reply operator()(const std::string &command) const
    {
        if (command.starts_with("find ")) {
            // Only the first page holds songs.
            if (command.find(" window 0:") == std::string::npos)
                return FakeMpdServer::ok();
            std::string text;
            for (auto &song : songs)
                text += song;
            return {text + "OK\n"};
        }
        return other(command);
    }
};

MpdLibrarySource scriptedSource(const FakeMpdServer &server)
{
    return MpdLibrarySource(mpd::MpdAddress{server.socketPath(), 0, std::nullopt},
                            MpdLibraryReadOptions{std::chrono::seconds(5), 4096});
}

TEST(MpdLibrarySourceProtocolTest, TrackAndDiscTotalsAreCutOff)
{
    // MPD tidies these up for its own files; a proxied or older server sends them as tagged.
    FakeMpdServer server(ScriptedLibrary{{"file: a.flac\nTitle: A\nTrack: 3/12\nDisc: 2/3\n"}});

    auto contents = scriptedSource(server).open();

    ASSERT_EQ(contents.songs.size(), 1u);
    EXPECT_EQ(contents.songs[0].trackNumber, 3);
    EXPECT_EQ(contents.songs[0].album.discNumber, 2);
}

TEST(MpdLibrarySourceProtocolTest, ADurationIsTakenOnlyWhenItIsALength)
{
    struct Case {
        const char *line;
        double seconds;
    };
    const Case cases[] = {
        {"duration: 215.373\n", 215.373},
        {"Time: 215\n", 0},
        {"duration: 0\n", 0},
        {"duration: -3\n", 0},
        {"duration: nan\n", 0},
        {"duration: inf\n", 0},
        {"duration: 1e999\n", 0},
        {"duration: 12.5 s\n", 0},
        {"duration: \n", 0},
        {"duration: 0x10\n", 0},
        {"", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        FakeMpdServer server(ScriptedLibrary{{std::string("file: a.flac\nTitle: A\n") + c.line}});
        auto contents = scriptedSource(server).open();
        ASSERT_EQ(contents.songs.size(), 1u);
        EXPECT_EQ(contents.songs[0].duration, c.seconds);
    }
}

TEST(MpdLibrarySourceProtocolTest, ARefusedCommandIsALibrarySourceErrorWithMpdsText)
{
    FakeMpdServer server([](const std::string &command) -> FakeMpdServer::Reply {
        if (command.starts_with("find "))
            return {"ACK [4@0] {find} you don't have permission for \"find\"\n"};
        return FakeMpdServer::ok();
    });

    try {
        scriptedSource(server).open();
        FAIL() << "open() succeeded";
    } catch (const LibrarySourceError &error) {
        EXPECT_THAT(error.what(), HasSubstr("refused to list the songs"));
        EXPECT_THAT(error.what(), HasSubstr("you don't have permission"));
    }
}

TEST(MpdLibrarySourceProtocolTest, AReplyBrokenOffIsAnErrorNotAShorterLibrary)
{
    FakeMpdServer server([](const std::string &command) -> FakeMpdServer::Reply {
        if (command.starts_with("find "))
            return {"file: a.flac\nTitle: A\nfile: b.flac\nTitle: B\n", true};
        return FakeMpdServer::ok();
    });

    EXPECT_THROW(scriptedSource(server).open(), LibrarySourceError);
}

TEST(MpdLibrarySourceProtocolTest, APlaylistDeletedWhileReadingIsLeftOut)
{
    ScriptedLibrary library{{"file: a.flac\nTitle: A\n"}};
    library.other = [](const std::string &command) -> FakeMpdServer::Reply {
        if (command == "listplaylists")
            return {"playlist: Gone\nplaylist: Kept\nOK\n"};
        if (command == "listplaylist \"Gone\"")
            return {"ACK [50@0] {listplaylist} No such playlist\n"};
        if (command == "listplaylist \"Kept\"")
            return {"file: a.flac\nfile: stream.invalid/x\nOK\n"};
        return FakeMpdServer::ok();
    };
    FakeMpdServer server(library);

    auto contents = scriptedSource(server).open();

    ASSERT_EQ(contents.playlists.size(), 1u);
    EXPECT_EQ(contents.playlists[0].name, "Kept");
    EXPECT_THAT(contents.playlists[0].items, ElementsAre(0u));
}

TEST(MpdLibrarySourceProtocolTest, ADatabaseUpdatedDuringTheReadIsReadAgainFromScratch)
{
    std::atomic<int> statsAsked = 0;
    ScriptedLibrary library{{"file: a.flac\nTitle: A\n", "file: b.flac\nTitle: B\n"}};
    library.other = [&](const std::string &command) -> FakeMpdServer::Reply {
        if (command == "stats") {
            // The update finishes between the first read's start and end.
            auto time = ++statsAsked == 1 ? 100 : 200;
            return {"songs: 2\ndb_update: " + std::to_string(time) + "\nOK\n"};
        }
        return FakeMpdServer::ok();
    };
    FakeMpdServer server(library);

    auto contents = scriptedSource(server).open();

    EXPECT_EQ(statsAsked, 4);
    EXPECT_EQ(contents.songs.size(), 2u);
    EXPECT_THAT(contents.playlists, IsEmpty());
}

TEST(MpdLibrarySourceProtocolTest, ADatabaseThatNeverSettlesIsAnError)
{
    std::atomic<int> statsAsked = 0;
    ScriptedLibrary library{{"file: a.flac\nTitle: A\n"}};
    library.other = [&](const std::string &command) -> FakeMpdServer::Reply {
        if (command == "stats")
            return {"db_update: " + std::to_string(++statsAsked) + "\nOK\n"};
        return FakeMpdServer::ok();
    };
    FakeMpdServer server(library);

    EXPECT_THROW(scriptedSource(server).open(), LibrarySourceError);
}

// With no tag enabled every title would read as missing and the provider would drop every song.
TEST(MpdLibrarySourceProtocolTest, TagsThatCannotBeChosenFallBackToAllTags)
{
    std::mutex mutex;
    std::vector<std::string> tagCommands;
    ScriptedLibrary library{{"file: a.flac\nTitle: A\n"}};
    library.other = [&](const std::string &command) -> FakeMpdServer::Reply {
        if (!command.starts_with("tagtypes"))
            return FakeMpdServer::ok();
        std::lock_guard lock(mutex);
        tagCommands.push_back(command);
        if (command.starts_with("tagtypes enable"))
            return {"ACK [2@0] {tagtypes} Unknown tag type\n"};
        return FakeMpdServer::ok();
    };
    FakeMpdServer server(library);

    auto contents = scriptedSource(server).open();

    std::lock_guard lock(mutex);
    EXPECT_THAT(tagCommands,
                ElementsAre("tagtypes \"clear\"", StartsWith("tagtypes enable"), "tagtypes \"all\""));
    ASSERT_EQ(contents.songs.size(), 1u);
    EXPECT_EQ(contents.songs[0].title, "A");
}

// A library of one song in one playlist whose watch answers a reload's check with `noidle`, and
// then with `status` and `listplaylists`.
struct WatchedLibrary {
    std::string noidle = "OK\n";
    std::string status = "state: stop\nOK\n";
    std::string playlistsThen = "playlist: Mix\nLast-Modified: 2026-01-01T00:00:00Z\nOK\n";

    FakeMpdServer::Reply operator()(const std::string &command)
    {
        ScriptedLibrary library{{"file: a.flac\nTitle: A\n"}};
        library.other = [this](const std::string &asked) -> FakeMpdServer::Reply {
            if (asked.starts_with("idle"))
                return {""};
            if (asked == "noidle")
                return {noidle};
            if (asked == "status")
                return {status};
            if (asked == "listplaylists")
                return {++listed == 1 ? "playlist: Mix\nLast-Modified: 2026-01-01T00:00:00Z\nOK\n"
                                      : playlistsThen};
            if (asked.starts_with("listplaylist "))
                return {"file: a.flac\nOK\n"};
            return FakeMpdServer::ok();
        };
        return library(command);
    }

    std::atomic<int> listed = 0;
};

TEST(MpdLibrarySourceProtocolTest, OnlyAWatchThatHeardNothingKeepsTheLastRead)
{
    struct Case {
        std::string what;
        std::string noidle, status, playlistsThen;
        bool unchanged;
    };
    const WatchedLibrary quiet;
    const Case cases[] = {
        {"nothing happened", quiet.noidle, quiet.status, quiet.playlistsThen, true},
        {"the database changed", "changed: database\nOK\n", quiet.status, quiet.playlistsThen, false},
        {"a playlist was saved", "changed: stored_playlist\nOK\n", quiet.status, quiet.playlistsThen, false},
        {"an update is under way", quiet.noidle, "updating_db: 2\nstate: stop\nOK\n", quiet.playlistsThen,
         false},
        {"a playlist file was edited", quiet.noidle, quiet.status,
         "playlist: Mix\nLast-Modified: 2026-01-01T00:00:01Z\nOK\n", false},
        {"a playlist file was added", quiet.noidle, quiet.status,
         "playlist: Mix\nLast-Modified: 2026-01-01T00:00:00Z\nplaylist: New\nLast-Modified: "
         "2026-01-01T00:00:00Z\nOK\n",
         false},
        {"the watch was refused", "ACK [5@0] {noidle} no\n", quiet.status, quiet.playlistsThen, false},
    };
    for (const auto &[what, noidle, status, playlistsThen, unchanged] : cases) {
        SCOPED_TRACE(what);
        WatchedLibrary watched;
        watched.noidle = noidle;
        watched.status = status;
        watched.playlistsThen = playlistsThen;
        FakeMpdServer server(std::ref(watched));
        auto source = scriptedSource(server);
        ASSERT_EQ(source.open().playlists.size(), 1u);
        EXPECT_EQ(source.isUnchangedSinceLastOpen(), unchanged);
        // The watch idles again after a quiet check; after any other, only a new read will do.
        EXPECT_EQ(source.isUnchangedSinceLastOpen(), unchanged);
    }
}

// A watch whose MPD fell silent or went away costs its deadline at most, never the program:
// writing to a server that quit raises SIGPIPE.
TEST(MpdLibrarySourceProtocolTest, ALostWatchMeansChangedWithinItsDeadline)
{
    for (bool serverGone : {false, true}) {
        SCOPED_TRACE(serverGone ? "server gone" : "server silent");
        WatchedLibrary watched;
        watched.noidle = "";
        std::optional<FakeMpdServer> server(std::in_place, std::ref(watched));
        MpdLibrarySource source(mpd::MpdAddress{server->socketPath(), 0, std::nullopt},
                                MpdLibraryReadOptions{std::chrono::seconds(60), 4096});
        source.open();
        if (serverGone)
            server.reset();
        auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(source.isUnchangedSinceLastOpen());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    }
}

TEST(ParseTagNumberTest, ReadsTheLeadingNumber)
{
    struct Case {
        std::string_view tag;
        int number;
    };
    const Case cases[] = {
        {"3", 3}, {"03", 3}, {"3/12", 3}, {" 7", 7},  {"12 of 14", 12},
        {"", 0},  {"A1", 0}, {"-1", 0},   {"/12", 0}, {"99999999999", 0},
    };
    for (auto &c : cases)
        EXPECT_EQ(parseTagNumber(c.tag), c.number) << c.tag;
}

} // namespace
} // namespace wheelbox
