// The user defaults file: what survives a restart, and what happens to a file or folder that is not
// as the store left it.
#include "linux/FileUserDefaults.hpp"
#include "support/ManualClock.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

namespace wheelbox::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

class FileUserDefaultsTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/wheelbox-defaults.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        folder_ = root_ / "config" / "wheelbox";
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::permissions(folder_, fs::perms::owner_all, ignored);
        fs::remove_all(root_, ignored);
    }

    // Runs `body` as a user that file permissions bind: this one, or for root "nobody", in a child
    // of its own, since privileges once dropped cannot be taken back.
    void asUnprivileged(const std::function<void()> &body)
    {
        if (::geteuid() != 0) {
            body();
            return;
        }
        const passwd *nobody = ::getpwnam("nobody");
        if (!nobody)
            GTEST_SKIP() << "no user \"nobody\" to run as";
        uid_t user = nobody->pw_uid;
        gid_t group = nobody->pw_gid;
        ASSERT_EQ(::chown(root_.c_str(), user, group), 0);
        for (const auto &entry : fs::recursive_directory_iterator(root_))
            ASSERT_EQ(::lchown(entry.path().c_str(), user, group), 0);
        EXPECT_EXIT(
            {
                if (::setgroups(0, nullptr) != 0 || ::setgid(group) != 0 || ::setuid(user) != 0)
                    std::_Exit(2);
                body();
                std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
            },
            ::testing::ExitedWithCode(0), "");
    }

    std::unique_ptr<FileUserDefaults> open()
    {
        return std::make_unique<FileUserDefaults>(
            folder_, clock_, [this](std::string_view line) { reports_.emplace_back(line); });
    }

    fs::path file() const { return folder_ / "defaults.json"; }

    void writeFile(const std::string &text) const
    {
        fs::create_directories(folder_);
        std::ofstream(file(), std::ios::binary) << text;
    }

    std::string readFile(const fs::path &path) const
    {
        std::ifstream input(path, std::ios::binary);
        std::stringstream text;
        text << input.rdbuf();
        return text.str();
    }

    std::vector<fs::path> folderEntries() const
    {
        std::vector<fs::path> names;
        for (const auto &entry : fs::directory_iterator(folder_))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path root_;
    fs::path folder_;
    ManualClock clock_;
    std::vector<std::string> reports_;
};

TEST_F(FileUserDefaultsTest, ValuesSurviveARestartWithTheirTypes)
{
    {
        auto defaults = open();
        EXPECT_FALSE(fs::exists(file())) << "nothing is written before a change";
        defaults->setString("deviceSize", "large");
        defaults->setString("quoted", "a \"b\" \\ c\n\t\x01 ☕");
        defaults->setBool("alwaysOnTop", true);
        defaults->setNumber("glareAmount", 1.0);
        defaults->setNumber("shadowAmount", 0.49);
        defaults->setNumber("big", 1e300);
        defaults->setNumber("removed", 3);
        defaults->remove("removed");
        defaults->registerDefaults({{"registered", std::string("in memory only")}});
    }
    auto defaults = open();
    EXPECT_EQ(defaults->string("deviceSize"), "large");
    EXPECT_EQ(defaults->string("quoted"), "a \"b\" \\ c\n\t\x01 ☕");
    EXPECT_EQ(defaults->boolean("alwaysOnTop"), true);
    EXPECT_EQ(defaults->number("glareAmount"), 1.0) << "a whole number stays a number";
    EXPECT_EQ(defaults->boolean("glareAmount"), std::nullopt);
    EXPECT_EQ(defaults->number("shadowAmount"), 0.49);
    EXPECT_EQ(defaults->number("big"), 1e300);
    EXPECT_EQ(defaults->value("removed"), std::nullopt);
    EXPECT_EQ(defaults->value("registered"), std::nullopt);
    EXPECT_THAT(readFile(file()), Not(HasSubstr("registered")));
    EXPECT_TRUE(reports_.empty());
    // Only the file itself is left in the folder: no temporary files.
    EXPECT_EQ(folderEntries(), std::vector<fs::path>{"defaults.json"});
    struct stat info {};
    ASSERT_EQ(::stat(file().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(FileUserDefaultsTest, AHandWrittenFileIsReadAndEntriesItCannotHoldAreKept)
{
    writeFile(
        R"({"deviceSize": "small", "count": 2, "flag": false, "list": [1, {"a": null}], "none": null})");
    {
        auto defaults = open();
        EXPECT_EQ(defaults->number("count"), 2.0);
        EXPECT_EQ(defaults->boolean("flag"), false);
        EXPECT_EQ(defaults->value("list"), std::nullopt);
        defaults->setString("deviceSize", "large");
    }
    auto text = readFile(file());
    EXPECT_THAT(text, HasSubstr(R"("list": [1,{"a":null}])"));
    EXPECT_THAT(text, HasSubstr(R"("none": null)"));
    EXPECT_EQ(open()->string("deviceSize"), "large");
    EXPECT_TRUE(reports_.empty());
}

// JSON numbers past the range of a double read as infinities; written back as the parser's
// serialiser writes them ("Infinity"), they would make the next start move the whole file aside.
TEST_F(FileUserDefaultsTest, NumbersPastTheRangeOfADoubleSurviveARewrite)
{
    writeFile(R"({"deviceSize": "small", "huge": -1e400, "zero": 0e400, "nested": [1e400, {"z": -0e999}]})");
    {
        auto defaults = open();
        EXPECT_EQ(defaults->value("huge"), std::nullopt) << "no setting is infinite";
        EXPECT_EQ(defaults->number("zero"), 0.0);
        defaults->setString("deviceSize", "large");
    }
    auto text = readFile(file());
    EXPECT_THAT(text, HasSubstr(R"("huge": -1e999)"));
    EXPECT_THAT(text, HasSubstr(R"("nested": [1e999,{"z":-0E0}])"));
    auto defaults = open();
    EXPECT_EQ(defaults->string("deviceSize"), "large");
    EXPECT_EQ(defaults->number("zero"), 0.0);
    EXPECT_TRUE(reports_.empty()) << reports_.front();
    defaults->setBool("flag", true);
    defaults->flush();
    EXPECT_THAT(readFile(file()), HasSubstr(R"("nested": [1e999,{"z":-0E0}])"));
}

// A number written in its shortest form must read back as itself, or a setting drifts by a unit in
// the last place on every rewrite.
TEST_F(FileUserDefaultsTest, NumbersReadBackExactlyAfterARewrite)
{
    writeFile(R"({"big": 18446744073705e-162, "tiny": 4.9e-324, "nested": [1.8446744073704998e-149]})");
    open()->setBool("flag", true);
    auto written = readFile(file());
    auto defaults = open();
    EXPECT_EQ(defaults->number("big"), 0x1.e311336377fc1p-495);
    EXPECT_EQ(defaults->number("tiny"), 0x1p-1074);
    defaults->setBool("flag", false);
    defaults->setBool("flag", true);
    defaults->flush();
    EXPECT_EQ(readFile(file()), written);
    EXPECT_TRUE(reports_.empty()) << reports_.front();
}

TEST_F(FileUserDefaultsTest, ACorruptFileIsMovedAsideAndReported)
{
    const std::string deep = std::string(100, '[') + std::string(100, ']');
    const std::pair<const char *, std::string> cases[] = {
        {"not JSON", "{\"deviceSize\": \"lar"},         {"not an object", "[\"deviceSize\"]"},
        {"not UTF-8", "{\"deviceSize\": \"\xff\"}"},    {"nested too deep", "{\"a\": " + deep + "}"},
        {"a NUL byte", std::string("{\"a\": 1}\0", 9)}, {"empty", ""},
    };
    for (const auto &[what, text] : cases) {
        SCOPED_TRACE(what);
        fs::remove_all(folder_);
        reports_.clear();
        writeFile(text);
        auto defaults = open();
        EXPECT_EQ(defaults->stored().size(), 0u);
        ASSERT_EQ(reports_.size(), 1u);
        EXPECT_THAT(reports_[0], HasSubstr("defaults.json.corrupt-"));
        auto entries = folderEntries();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(readFile(folder_ / entries[0]), text) << "kept byte for byte";

        defaults->setString("deviceSize", "small");
        defaults->flush();
        EXPECT_EQ(folderEntries().size(), 2u);
        EXPECT_EQ(open()->string("deviceSize"), "small");
    }
}

TEST_F(FileUserDefaultsTest, TwoCorruptFilesInOneSecondBothStay)
{
    writeFile("{");
    open()->setBool("a", true);
    writeFile("}");
    open();
    auto entries = folderEntries();
    ASSERT_EQ(entries.size(), 2u) << "the second corrupt file does not replace the first";
    EXPECT_THAT(entries[1].string(), HasSubstr("-2"));
    EXPECT_EQ(readFile(folder_ / entries[0]), "{");
    EXPECT_EQ(readFile(folder_ / entries[1]), "}");
}

TEST_F(FileUserDefaultsTest, AnUnwritableFolderKeepsValuesInMemoryAndReportsOnce)
{
    asUnprivileged([&] {
        writeFile(R"({"kept": "yes"})");
        fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
        auto defaults = open();
        defaults->setString("a", "1");
        defaults->flush();
        defaults->setString("b", "2");
        defaults->flush();
        EXPECT_EQ(defaults->string("a"), "1");
        EXPECT_EQ(reports_.size(), 1u);
        EXPECT_EQ(readFile(file()), R"({"kept": "yes"})");
    });
}

TEST_F(FileUserDefaultsTest, AFolderThatIsAFileKeepsValuesInMemoryAndReportsOnce)
{
    fs::create_directories(folder_.parent_path());
    std::ofstream(folder_) << "not a folder";
    auto defaults = open();
    defaults->setString("a", "1");
    defaults->flush();
    defaults->setString("b", "2");
    defaults->flush();
    EXPECT_EQ(defaults->string("b"), "2");
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_THAT(reports_[0], HasSubstr("cannot be saved"));
    EXPECT_EQ(readFile(folder_), "not a folder");
}

TEST_F(FileUserDefaultsTest, AFolderInPlaceOfTheFileIsMovedAsideWithItsContents)
{
    fs::create_directories(file() / "inside");
    auto defaults = open();
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_THAT(reports_[0], HasSubstr("is not a file"));
    defaults->setString("a", "1");
    defaults->flush();
    auto entries = folderEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(fs::exists(folder_ / entries[1] / "inside"));
    EXPECT_EQ(open()->string("a"), "1");
}

TEST_F(FileUserDefaultsTest, ACorruptFileThatCannotBeMovedIsNeverReplaced)
{
    asUnprivileged([&] {
        writeFile(R"({"kept": )");
        fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
        auto defaults = open();
        ASSERT_EQ(reports_.size(), 1u);
        EXPECT_THAT(reports_[0], HasSubstr("could not be moved aside"));
        defaults->setString("a", "1");
        defaults->flush();
        EXPECT_EQ(defaults->string("a"), "1");
        EXPECT_EQ(reports_.size(), 1u);
        fs::permissions(folder_, fs::perms::owner_all);
        EXPECT_EQ(readFile(file()), R"({"kept": )");
    });
}

// A file that is there but cannot be read now is no corrupt file: it may be another user's (a run
// with sudo), or the disk or the descriptor table may be failing for a moment. It stays where it is,
// whole, and this run neither moves nor replaces it.
TEST_F(FileUserDefaultsTest, AFileThatCannotBeReadIsKeptAndNeverReplaced)
{
    const std::string saved = R"({"deviceSize": "small"})";
    auto check = [&](const std::function<std::unique_ptr<FileUserDefaults>()> &openUnreadable) {
        reports_.clear();
        auto defaults = openUnreadable();
        EXPECT_EQ(defaults->string("deviceSize"), std::nullopt) << "the defaults, in memory";
        ASSERT_EQ(reports_.size(), 1u);
        EXPECT_THAT(reports_[0], HasSubstr("cannot be read"));
        EXPECT_THAT(reports_[0], HasSubstr("left as it is"));
        defaults->setString("deviceSize", "large");
        defaults->flush();
        defaults.reset();
        EXPECT_EQ(reports_.size(), 1u) << "said once";
        EXPECT_EQ(folderEntries(), std::vector<fs::path>{"defaults.json"});
    };

    // Another user's file (EACCES).
    asUnprivileged([&] {
        writeFile(saved);
        fs::permissions(file(), fs::perms::none);
        check([&] { return open(); });
        fs::permissions(file(), fs::perms::owner_read);
        EXPECT_EQ(readFile(file()), saved);
    });

    // No descriptor left (EMFILE) while the store opens. The sanitizers probe memory through a pipe
    // of their own; with no descriptor left they take a sound object for a broken one.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    fs::remove_all(folder_);
    writeFile(saved);
    check([&] {
        rlimit limits{};
        ::getrlimit(RLIMIT_NOFILE, &limits);
        rlimit lowered = limits;
        lowered.rlim_cur = 64;
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        std::vector<int> taken;
        for (int fd; (fd = ::dup(STDERR_FILENO)) >= 0;)
            taken.push_back(fd);
        auto defaults = open();
        for (int fd : taken)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &limits);
        return defaults;
    });
    EXPECT_EQ(readFile(file()), saved);
#endif
}

// Settings that change many times a second (the glare and shadow sliders) are written once, a
// moment after the first change, off the caller's thread; nothing is lost at the end.
TEST_F(FileUserDefaultsTest, ChangesInQuickSuccessionAreWrittenTogether)
{
    int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    fs::create_directories(folder_);
    ASSERT_GE(::inotify_add_watch(watch, folder_.c_str(), IN_MOVED_TO), 0);
    auto writes = [&] {
        int count = 0;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t got; (got = ::read(watch, buffer, sizeof buffer)) > 0;) {
            for (char *at = buffer; at < buffer + got;) {
                auto *event = reinterpret_cast<inotify_event *>(at);
                count += event->len > 0 && std::string_view(event->name) == "defaults.json";
                at += sizeof(inotify_event) + event->len;
            }
        }
        return count;
    };

    auto defaults = std::make_unique<FileUserDefaults>(
        folder_, clock_, [this](std::string_view line) { reports_.emplace_back(line); }, 300ms);
    auto started = std::chrono::steady_clock::now();
    for (int tick = 0; tick <= 100; ++tick)
        defaults->setNumber("glareAmount", tick / 100.0);
    // Unless this machine is very busy, the drag is over before the first write is due.
    bool quick = std::chrono::steady_clock::now() - started < 300ms;
    if (quick) {
        EXPECT_EQ(writes(), 0) << "nothing written on the caller's thread";
        EXPECT_FALSE(fs::exists(file()));
    }
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!fs::exists(file()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(100ms);
    if (quick) {
        EXPECT_EQ(writes(), 1) << "one write for the whole drag";
    }
    EXPECT_EQ(open()->number("glareAmount"), 1.0);

    // Changed and at once destroyed, as at quit: written before the store is gone.
    defaults->setNumber("shadowAmount", 0.25);
    defaults.reset();
    EXPECT_EQ(open()->number("shadowAmount"), 0.25);
    ::close(watch);
}

TEST_F(FileUserDefaultsTest, ValuesTheFileCannotHoldStayInMemory)
{
    auto defaults = open();
    defaults->setString("bad", std::string("\xc3\x28"));
    defaults->setNumber("nan", std::nan(""));
    defaults->flush();
    defaults->setString("good", "ok");
    defaults->flush();
    defaults->setString("good", "ok");
    defaults->flush();
    EXPECT_EQ(reports_.size(), 2u) << "each reported once";
    EXPECT_EQ(defaults->string("bad"), std::string("\xc3\x28"));
    auto reopened = open();
    EXPECT_EQ(reopened->string("good"), "ok");
    EXPECT_EQ(reopened->value("bad"), std::nullopt);
    EXPECT_EQ(reopened->value("nan"), std::nullopt);
}

TEST_F(FileUserDefaultsTest, ConcurrentWritersLeaveTheNewestState)
{
    auto defaults = open();
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < 25; ++i)
                defaults->setNumber("writer" + std::to_string(w), i);
        });
    }
    for (auto &writer : writers)
        writer.join();
    defaults->flush();
    auto reopened = open();
    for (int w = 0; w < 4; ++w)
        EXPECT_EQ(reopened->number("writer" + std::to_string(w)), 24.0);
    EXPECT_EQ(folderEntries(), std::vector<fs::path>{"defaults.json"});
}

TEST(FileUserDefaultsFolder, FollowsTheBaseDirectorySpecification)
{
    const char *savedConfig = std::getenv("XDG_CONFIG_HOME");
    const char *savedHome = std::getenv("HOME");
    std::optional<std::string> config = savedConfig ? std::optional<std::string>(savedConfig) : std::nullopt;
    std::optional<std::string> home = savedHome ? std::optional<std::string>(savedHome) : std::nullopt;

    ::setenv("HOME", "/home/someone", 1);
    ::setenv("XDG_CONFIG_HOME", "/xdg", 1);
    EXPECT_EQ(FileUserDefaults::defaultFolder(), "/xdg/wheelbox");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    EXPECT_EQ(FileUserDefaults::defaultFolder(), "/home/someone/.config/wheelbox");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(FileUserDefaults::defaultFolder(), "/home/someone/.config/wheelbox");

    config ? ::setenv("XDG_CONFIG_HOME", config->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    home ? ::setenv("HOME", home->c_str(), 1) : ::unsetenv("HOME");
}

} // namespace
} // namespace wheelbox::test
