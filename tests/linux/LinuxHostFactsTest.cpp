// The computer's name and the home volume's room as the Linux host reports them.
#include "linux/LinuxHostFacts.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>

namespace wheelbox::test {
namespace {

TEST(LinuxHostFacts, ThePrettyNameIsReadAsTheShellWouldUnquoteIt)
{
    struct Case {
        std::string machineInfo;
        std::optional<std::string> name;
    };
    const Case cases[] = {
        {"PRETTY_HOSTNAME=\"Ada’s Laptop\"\n", "Ada’s Laptop"},
        {"PRETTY_HOSTNAME='Ada \"Lovelace\" Desk'", "Ada \"Lovelace\" Desk"},
        {"PRETTY_HOSTNAME=\"Back\\\\slash \\\"quoted\\\"\"", "Back\\slash \"quoted\""},
        {"PRETTY_HOSTNAME=Kitchen\n", "Kitchen"},
        {"  PRETTY_HOSTNAME=Kitchen  \r\n", "Kitchen"},
        {"# PRETTY_HOSTNAME=Commented\nICON_NAME=computer-laptop\nPRETTY_HOSTNAME=\"Den\"\n", "Den"},
        {"PRETTY_HOSTNAME=First\nPRETTY_HOSTNAME=Second\n", "Second"},
        {"CHASSIS=laptop\n", std::nullopt},
        {"PRETTY_HOSTNAME=\n", std::nullopt},
        {"PRETTY_HOSTNAME=\"\"\n", std::nullopt},
        {"PRETTY_HOSTNAME=\"unterminated\n", std::nullopt},
        {"PRETTY_HOSTNAME=\"bad \xff byte\"\n", std::nullopt},
        {std::string("PRETTY_HOSTNAME=\"cut\0off\"\n", 26), std::nullopt},
        {"pretty_hostname=lower\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.machineInfo);
        EXPECT_EQ(prettyHostNameIn(c.machineInfo), c.name);
    }
}

class LinuxHostFactsFiles : public ::testing::Test {
  protected:
    void SetUp() override
    {
        folder = std::filesystem::temp_directory_path() / ("wheelbox-host-facts-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::filesystem::path write(const std::string &name, const std::string &text)
    {
        auto path = folder / name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    static std::string hostName()
    {
        char name[HOST_NAME_MAX + 1] = {};
        gethostname(name, HOST_NAME_MAX);
        return name;
    }

    std::filesystem::path folder;
};

TEST_F(LinuxHostFactsFiles, WithoutAPrettyNameTheHostNameStandsIn)
{
    EXPECT_EQ(LinuxHostFacts({.machineInfo = write("named", "PRETTY_HOSTNAME=\"Den\"\n"), .home = {}})
                  .computerName(),
              "Den");
    for (const auto &path : {folder / "missing", write("unnamed", "CHASSIS=desktop\n"), folder,
                             write("huge", std::string(100'000, '#') + "\nPRETTY_HOSTNAME=Big\n")}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(LinuxHostFacts({.machineInfo = path, .home = {}}).computerName(), hostName());
    }
}

TEST_F(LinuxHostFactsFiles, TheHomeVolumeIsMeasuredWhereTheHomeFolderIs)
{
    auto space = LinuxHostFacts({.home = folder}).homeVolumeSpace();
    ASSERT_TRUE(space.capacity);
    ASSERT_TRUE(space.available);
    EXPECT_GT(*space.capacity, 0u);
    EXPECT_LE(*space.available, *space.capacity);

    auto missing = LinuxHostFacts({.home = folder / "gone"}).homeVolumeSpace();
    EXPECT_EQ(missing.capacity, std::nullopt);
    EXPECT_EQ(missing.available, std::nullopt);
}

} // namespace
} // namespace wheelbox::test
