#include "lib/mpd/MpdPicture.hpp"

#include "lib/glib/GLibPointers.hpp"
#include "support/FakeMpdServer.hpp"
#include "support/ServiceEnvironment.hpp"

#include <boost/json.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace wheelbox::mpd {
namespace {

using namespace std::chrono_literals;
using test::FakeMpdServer;

std::string sha256(const std::optional<std::vector<std::byte>> &data)
{
    if (!data)
        return "(none)";
    glib::CharPtr digest(g_compute_checksum_for_data(
        G_CHECKSUM_SHA256, reinterpret_cast<const guchar *>(data->data()), data->size()));
    return digest.get();
}

// The pictures tests/fixtures/make-library made: by song (embedded) or folder, their SHA-256.
std::map<std::string, std::string> fixturePictures(const std::string &manifestPath)
{
    std::ifstream file(manifestPath);
    std::stringstream text;
    text << file.rdbuf();
    std::map<std::string, std::string> pictures;
    const auto manifest = boost::json::parse(text.str());
    for (const auto &picture : manifest.at("pictures").as_array()) {
        const auto &object = picture.as_object();
        const auto where =
            object.at("kind") == "embedded" ? object.at("song").as_string() : object.at("folder").as_string();
        pictures[std::string(where)] = std::string(object.at("sha256").as_string());
    }
    return pictures;
}

TEST(MpdPicture, ReadsFolderAndEmbeddedPicturesInChunksOfEitherSize)
{
    std::string host, manifest;
    WHEELBOX_SERVICE_VARIABLE(host, "WHEELBOX_TEST_MPD_HOST");
    WHEELBOX_SERVICE_VARIABLE(manifest, "WHEELBOX_TEST_MANIFEST");
    auto pictures = fixturePictures(manifest);
    const std::string large = "Twin Discs/Double Feature/CD 1/01 First Reel.flac";
    struct Case {
        PictureCommand command;
        std::string uri;
        std::string sha256;
    } cases[] = {
        {PictureCommand::readpicture, "Aurora Fields/Northern Lights/01 Dawn Chorus.flac",
         pictures.at("Aurora Fields/Northern Lights/01 Dawn Chorus.flac")},
        {PictureCommand::readpicture, large, pictures.at(large)},
        {PictureCommand::albumart, "The Quotes/Greatest Hits/01 Say Hello.flac",
         pictures.at("The Quotes/Greatest Hits")},
        // Nothing: no picture in the file, no cover.* beside it (MPD reads no Folder.PNG), no file.
        {PictureCommand::readpicture, "Loose Track.flac", "(none)"},
        {PictureCommand::albumart, "Loose Track.flac", "(none)"},
        {PictureCommand::albumart, "Other Band/Greatest Hits/01 Other Opener.ogg", "(none)"},
        {PictureCommand::readpicture, "No Such/Song.flac", "(none)"},
        {PictureCommand::albumart, "No Such/Song.flac", "(none)"},
    };
    // MPD's default chunk, then one chunk for the lot: the large picture takes several, then one.
    for (std::size_t chunk : {defaultBinaryLimit, std::size_t(1024 * 1024)}) {
        auto connection = MpdConnection::open(parseMpdAddress(host, ""), 5s);
        EXPECT_EQ(chunk == defaultBinaryLimit ? defaultBinaryLimit : raiseBinaryLimit(connection, chunk),
                  chunk);
        for (const auto &c : cases)
            EXPECT_EQ(sha256(readPicture(connection, c.command, c.uri)), c.sha256)
                << c.uri << " in chunks of " << chunk;
        // A picture over the limit is none, and the connection is still in step.
        EXPECT_EQ(readPicture(connection, PictureCommand::readpicture, large, {.largest = 1000}),
                  std::nullopt);
        EXPECT_EQ(sha256(readPicture(connection, PictureCommand::readpicture, large)), pictures.at(large));
        // A name with a line break would end the command: it never reaches MPD.
        EXPECT_THROW(readPicture(connection, PictureCommand::albumart, "Loose Track.flac\nclear"), MpdError);
        EXPECT_EQ(sha256(readPicture(connection, PictureCommand::readpicture, large)), pictures.at(large));
    }
}

// What a scripted server said, and what it was asked.
struct ScriptedPictures {
    std::mutex lock;
    std::vector<std::string> commands;
    std::function<FakeMpdServer::Reply(const std::string &)> answer;

    FakeMpdServer::Answer server()
    {
        return [this](const std::string &command) {
            std::lock_guard guard(lock);
            commands.push_back(command);
            return answer(command);
        };
    }
};

TEST(MpdPicture, OlderServersKeepTheirChunksAndBrokenRepliesAreNeverTrusted)
{
    ScriptedPictures script;
    script.answer = [](const std::string &) {
        return FakeMpdServer::ok();
    };
    {
        FakeMpdServer old(script.server(), {}, "0.22.3");
        auto connection = MpdConnection::open({old.socketPath(), 0, std::nullopt}, 5s);
        EXPECT_EQ(raiseBinaryLimit(connection, 1024 * 1024), defaultBinaryLimit);
        EXPECT_TRUE(script.commands.empty()) << "nothing sent to a server without binarylimit";
    }
    {
        FakeMpdServer current(script.server());
        auto connection = MpdConnection::open({current.socketPath(), 0, std::nullopt}, 5s);
        EXPECT_EQ(raiseBinaryLimit(connection, 1024 * 1024), 1024u * 1024u);
        EXPECT_THAT(script.commands, testing::ElementsAre("binarylimit \"1048576\""));
    }

    struct Case {
        const char *what;
        std::string reply;
        bool throws;
    } cases[] = {
        // A size of gigabytes is not allocated, nor read on: none.
        {"a size of gigabytes", "size: 4295083446\nbinary: 4\nabcd\nOK\n", false},
        {"a chunk longer than the picture", "size: 3\nbinary: 4\nabcd\nOK\n", true},
        {"a chunk longer than a chunk can be", "size: 99999999999\nbinary: 99999999999\n", true},
        {"a size that is no number", "size: lots\nbinary: 4\nabcd\nOK\n", true},
        {"an empty chunk before the end", "size: 8\nbinary: 0\n\nOK\n", true},
        {"a refusal", "ACK [50@0] {readpicture} No file exists\n", false},
        {"an empty answer", "OK\n", false},
    };
    for (const auto &c : cases) {
        script.answer = [&](const std::string &) {
            return FakeMpdServer::Reply{c.reply};
        };
        FakeMpdServer server(script.server());
        auto connection = MpdConnection::open({server.socketPath(), 0, std::nullopt}, 5s);
        if (c.throws) {
            EXPECT_THROW(readPicture(connection, PictureCommand::readpicture, "song.flac"), MpdError)
                << c.what;
        } else {
            EXPECT_EQ(readPicture(connection, PictureCommand::readpicture, "song.flac"), std::nullopt)
                << c.what;
        }
    }

    // A picture in three chunks is asked for at each offset in turn.
    script.commands.clear();
    script.answer = [](const std::string &command) -> FakeMpdServer::Reply {
        auto offset = command.substr(command.rfind(' ') + 2); // after the quote
        const std::string whole = "0123456789";
        auto from = std::stoul(offset);
        auto chunk = whole.substr(from, 4);
        return {"size: 10\ntype: image/png\nbinary: " + std::to_string(chunk.size()) + "\n" + chunk +
                "\nOK\n"};
    };
    FakeMpdServer chunked(script.server());
    auto connection = MpdConnection::open({chunked.socketPath(), 0, std::nullopt}, 5s);
    auto picture = readPicture(connection, PictureCommand::readpicture, "a \"quoted\" song.flac");
    ASSERT_TRUE(picture);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(picture->data()), picture->size()), "0123456789");
    EXPECT_THAT(script.commands, testing::ElementsAre("readpicture \"a \\\"quoted\\\" song.flac\" \"0\"",
                                                      "readpicture \"a \\\"quoted\\\" song.flac\" \"4\"",
                                                      "readpicture \"a \\\"quoted\\\" song.flac\" \"8\""));
}

} // namespace
} // namespace wheelbox::mpd
