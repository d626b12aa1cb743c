#include "linux/ArtworkFiles.hpp"

#include "linux/ArtworkPictures.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace wheelbox {
namespace {

namespace fs = std::filesystem;

std::string textOf(const std::optional<std::vector<std::byte>> &data)
{
    return data ? std::string(reinterpret_cast<const char *>(data->data()), data->size()) : "(none)";
}

// A music folder and, beside it, what must never be read:
//   music/Band/Album/{01.flac, Folder.JPG, FRONT.png}     music/Band/Single/{01.flac, cover.txt}
//   music/Band/Box/CD 1/01.flac   music/Band/Box/cover.PNG      music/Band/Pipe/{01.flac, cover.jpg (FIFO)}
//   music/Band/Huge/{01.flac, cover.png (over the limit)}       music/Band/Out/{01.flac, cover.jpg ->
//   ../../../secret} secret
class ArtworkFilesTest : public testing::Test {
  protected:
    ArtworkFilesTest()
    {
        std::string pattern = (fs::temp_directory_path() / "wheelbox-files.XXXXXX").string();
        base_ = ::mkdtemp(pattern.data());
        music_ = base_ / "music";
        for (const char *folder :
             {"Band/Album", "Band/Single", "Band/Box/CD 1", "Band/Pipe", "Band/Huge", "Band/Out"}) {
            fs::create_directories(music_ / folder);
            write(music_ / folder / "01.flac", "audio");
        }
        write(music_ / "Band/Album/Folder.JPG", "folder picture");
        write(music_ / "Band/Album/FRONT.png", "front picture");
        write(music_ / "Band/Single/cover.txt", "not a cover name");
        write(music_ / "Band/Box/cover.PNG", "box picture");
        ::mkfifo((music_ / "Band/Pipe/cover.jpg").c_str(), 0600);
        write(music_ / "Band/Huge/cover.png", std::string(2000, 'x'));
        write(base_ / "secret", "secret");
        fs::create_symlink("../../../secret", music_ / "Band/Out/cover.jpg");
    }
    ~ArtworkFilesTest() override { fs::remove_all(base_); }

    static void write(const fs::path &path, const std::string &text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }

    fs::path base_, music_;
};

TEST_F(ArtworkFilesTest, APictureBesideTheSongsIsFoundByNameInAnyLetterCase)
{
    struct Case {
        std::string uri;
        std::string found;
    } cases[] = {
        {"Band/Album/01.flac", "folder picture"}, // folder.* before front.*
        {"Band/Box/CD 1/01.flac", "box picture"}, // a disc folder's album folder
        {"Band/Single/01.flac", "(none)"},
        {"Band/Pipe/01.flac", "(none)"}, // a FIFO never holds the reader
        {"Band/Huge/01.flac", "(none)"},
        {"Band/Out/01.flac", "secret"}, // a link inside the music folder is the user's own
        // Names that are not plain paths below the folder read nothing.
        {"../secret", "(none)"},
        {"Band/../../secret", "(none)"},
        {"/Band/Album/01.flac", "(none)"},
        {"Band//Album/01.flac", "(none)"},
        {"Band/./Album/01.flac", "(none)"},
        {std::string("Band/Album\0/01.flac", 19), "(none)"},
        {"", "(none)"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(textOf(readFolderArtwork(music_, c.uri, 1000)), c.found) << c.uri;
}

TEST_F(ArtworkFilesTest, APlayersFileAddressIsReadOnlyInsideTheFoldersAllowed)
{
    const std::vector<fs::path> allowed{music_};
    const std::string album = "file://" + (music_ / "Band/Album/Folder.JPG").string();
    struct Case {
        std::string address;
        std::string found;
    } cases[] = {
        {album, "folder picture"},
        {"file://" + (music_ / "Band/Album/FRONT%2Epng").string(), "front picture"},
        {"file://localhost" + (music_ / "Band/Box/cover.PNG").string(), "box picture"},
        {"file://" + (base_ / "secret").string(), "(none)"},
        {"file://" + (music_ / "Band/Out/cover.jpg").string(), "(none)"}, // a link leading out
        {"file://" + (music_ / "Band/../secret").string(), "(none)"},
        {"file://" + (music_ / "Band/Pipe/cover.jpg").string(), "(none)"},
        {"file://" + (music_ / "Band/Huge/cover.png").string(), "(none)"},
        {"file://" + (music_ / "Band/Album").string(), "(none)"},
        {"file://elsewhere" + (music_ / "Band/Album/Folder.JPG").string(), "(none)"},
        {"file://" + (music_ / "Band/Album/Folder.JPG%00.txt").string(), "(none)"},
        {"https://example.com/cover.jpg", "(none)"},
        {(music_ / "Band/Album/Folder.JPG").string(), "(none)"},
        {"file:///dev/zero", "(none)"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(textOf(readArtworkFile(c.address, allowed, 1000)), c.found) << c.address;
    EXPECT_EQ(textOf(readArtworkFile(album, {base_ / "nowhere"}, 1000)), "(none)");
}

} // namespace
} // namespace wheelbox
