// The MPD the application talks to: the choice among the usual places, and the MPD it starts when
// none answers, run for real.
#include "lib/mpd/MpdConnection.hpp"
#include "linux/GLibMainLoop.hpp"
#include "linux/MpdLibraryGate.hpp"
#include "linux/MpdLibrarySource.hpp"
#include "linux/MpdLocator.hpp"
#include "linux/MpdServerStatus.hpp"
#include "linux/PrivateMpd.hpp"
#include "linux/PrivateMpdConfiguration.hpp"
#include "linux/UserFolders.hpp"
#include "platform/AutomationTool.hpp"
#include "support/FakeMpdServer.hpp"
#include "support/Processes.hpp"
#include "support/ServiceEnvironment.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace wheelbox {
namespace {

using namespace std::chrono_literals;
using Source = MpdLocator::Choice::Source;

TEST(MpdLocator, ChoosesAsMpdClientsDo)
{
    struct Case {
        std::string what;
        std::optional<std::string> host, port;
        std::optional<std::filesystem::path> runtime;
        std::set<std::string> answering;
        Source source;
        mpd::MpdAddress address;
    } cases[] = {
        {"MPD_HOST wins, unprobed",
         "music.local",
         {},
         "/run/user/1",
         {},
         Source::environment,
         {"music.local", 6600, {}}},
        {"password@host",
         "secret@music.local",
         "6601",
         {},
         {},
         Source::environment,
         {"music.local", 6601, "secret"}},
        {"a socket path", "/srv/mpd.sock", "6601", {}, {}, Source::environment, {"/srv/mpd.sock", 0, {}}},
        {"an abstract socket", "@mpd", {}, {}, {}, Source::environment, {"@mpd", 0, {}}},
        {"MPD_PORT alone", {}, "6700", {}, {}, Source::environment, {"localhost", 6700, {}}},
        {"the user's socket first",
         {},
         {},
         "/run/user/1",
         {"/run/user/1/mpd/socket", "/run/mpd/socket"},
         Source::found,
         {"/run/user/1/mpd/socket", 0, {}}},
        {"then the system's",
         {},
         {},
         "/run/user/1",
         {"/run/mpd/socket", "localhost"},
         Source::found,
         {"/run/mpd/socket", 0, {}}},
        {"then localhost", {}, {}, {}, {"localhost"}, Source::found, {"localhost", 6600, {}}},
        {"a relative runtime folder is no place", {}, {}, "run", {"run/mpd/socket"}, Source::none, {}},
        {"nothing answers", {}, {}, "/run/user/1", {}, Source::none, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> probed;
        MpdLocator::Settings settings{c.host, c.port, c.runtime, [&](const mpd::MpdAddress &address) {
                                          probed.push_back(address.host);
                                          return c.answering.count(address.host) > 0;
                                      }};
        auto choice = MpdLocator::locate(settings);
        EXPECT_EQ(choice.source, c.source);
        if (c.source != Source::none) {
            EXPECT_EQ(choice.address, c.address);
        }
        if (c.source == Source::environment) {
            EXPECT_TRUE(probed.empty());
        }
    }
}

TEST(MpdLocator, EnvironmentValuesReadBackAsTheSameAddress)
{
    const mpd::MpdAddress addresses[] = {{"/run/user/1/wheelbox/mpd.socket", 0, {}},
                                         {"localhost", 6600, {}},
                                         {"music.local", 6601, "secret"},
                                         {"@abstract", 0, "secret"},
                                         {"/path with spaces/\"quoted\"", 0, {}}};
    for (const auto &address : addresses) {
        auto back =
            mpd::parseMpdAddress(MpdLocator::hostVariable(address), MpdLocator::portVariable(address));
        EXPECT_EQ(back, address) << address.host;
    }
    // What MPD_HOST cannot carry is refused, never exported as another address.
    EXPECT_THROW(MpdLocator::hostVariable({"host", 6600, "pass@word"}), std::invalid_argument);
    EXPECT_THROW(MpdLocator::hostVariable({"host", 6600, ""}), std::invalid_argument);
    EXPECT_THROW(MpdLocator::hostVariable({std::string("ho\0st", 5), 6600, {}}), std::invalid_argument);
    EXPECT_THROW(MpdLocator::hostVariable({"", 6600, {}}), std::invalid_argument);
}

// A folder of the test's own, removed afterwards.
class Scratch {
  public:
    Scratch()
    {
        std::string pattern = "/tmp/wb-mpd.XXXXXX";
        path_ = ::mkdtemp(pattern.data());
    }
    ~Scratch() { std::filesystem::remove_all(path_); }
    const std::filesystem::path &path() const { return path_; }

  private:
    std::filesystem::path path_;
};

PrivateMpdConfiguration configurationIn(const std::filesystem::path &folder, std::filesystem::path music)
{
    return {std::move(music), folder / "state", folder / "run", {}};
}

TEST(PrivateMpdConfiguration, QuotesPathsAndRefusesWhatItCannotHold)
{
    Scratch scratch;
    auto configuration = configurationIn(scratch.path(), "/music/Tom \"T\" \\ Co");
    configuration.outputs = {PrivateMpdConfiguration::Output::pulse};
    std::string text = configuration.text();
    EXPECT_NE(text.find("music_directory         \"/music/Tom \\\"T\\\" \\\\ Co\"\n"), std::string::npos)
        << text;
    EXPECT_NE(
        text.find("bind_to_address         \"" + (scratch.path() / "run" / "mpd.socket").string() + "\""),
        std::string::npos);
    EXPECT_NE(text.find("max_output_buffer_size  \"65536\""), std::string::npos);
    EXPECT_NE(text.find("type       \"pulse\""), std::string::npos);
    EXPECT_NE(text.find("type       \"null\"\n  name       \"Wheelbox (silent)\"\n  sync       \"yes\"\n  "
                        "mixer_type \"software\""),
              std::string::npos);

    for (std::string music : {std::string("/music/line\nbreak"), std::string("/music/return\rhere"),
                              std::string("/music/n\0l", 10)}) {
        configuration.musicDirectory = music;
        EXPECT_THROW(configuration.text(), std::invalid_argument);
    }
    configuration = configurationIn(std::string(120, 'x'), "/music");
    EXPECT_THROW(configuration.text(), std::invalid_argument);
}

TEST(PrivateMpd, FindsItsExecutableOnAbsolutePathsOnly)
{
    Scratch scratch;
    auto bin = scratch.path() / "bin";
    std::filesystem::create_directories(bin);
    std::ofstream(bin / "mpd") << "#!/bin/sh\n";
    ::chmod((bin / "mpd").c_str(), 0755);
    EXPECT_EQ(PrivateMpd::findExecutable("relative:" + bin.string()), bin / "mpd");
    // The system's MPD (from scripts/deps) when PATH names none.
    EXPECT_EQ(PrivateMpd::findExecutable(""), std::filesystem::path("/usr/bin/mpd"));
    EXPECT_EQ(PrivateMpd::findExecutable("::"), std::filesystem::path("/usr/bin/mpd"));
}

bool isRunning(pid_t pid)
{
    // Gone or a zombie: not running.
    auto stat = test::processStat(pid);
    return stat && stat->state != 'Z';
}

TEST(PrivateMpd, StartsScansTheMusicFolderAndStops)
{
    std::string fixtures;
    WHEELBOX_SERVICE_VARIABLE(fixtures, "WHEELBOX_TEST_MUSIC_DIR");
    Scratch scratch;
    // The first start scans the folder while the library already asks for it.
    auto configuration = configurationIn(scratch.path(), fixtures);
    auto mpd = PrivateMpd::start(configuration, "/usr/bin/mpd");
    ASSERT_TRUE(mpd->pid());
    pid_t pid = *mpd->pid();
    EXPECT_TRUE(isRunning(pid));
    struct stat folder {};
    ASSERT_EQ(::stat(configuration.runtimeDirectory.c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);

    MpdLibraryGate gate(std::make_unique<MpdLibrarySource>(mpd->address()), mpd->address(), nullptr,
                        MpdLibraryGate::Settings{});
    auto contents = gate.open();
    // Every song of the folder: neither an empty library nor one read half-way through the scan.
    std::size_t files = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(
             fixtures, std::filesystem::directory_options::follow_directory_symlink)) {
        auto extension = entry.path().extension();
        files += entry.is_regular_file() && (extension == ".flac" || extension == ".ogg");
    }
    EXPECT_EQ(contents.songs.size(), files);

    // A second start finds the first one answering and leaves it alone.
    auto again = PrivateMpd::start(configuration, "/usr/bin/mpd");
    EXPECT_FALSE(again->pid());
    again.reset();
    EXPECT_TRUE(isRunning(pid));

    mpd->stop();
    EXPECT_FALSE(isRunning(pid));
    EXPECT_FALSE(mpd->pid());
    // Started again over the same state: its database is there, and a stale socket is no obstacle.
    auto restarted = PrivateMpd::start(configuration, "/usr/bin/mpd");
    EXPECT_NO_THROW(mpd::MpdConnection::open(restarted->address(), 2s));
}

TEST(PrivateMpd, DiesWithTheProgramThatStartedIt)
{
    std::string fixtures;
    WHEELBOX_SERVICE_VARIABLE(fixtures, "WHEELBOX_TEST_MUSIC_DIR");
    Scratch scratch;
    auto configuration = configurationIn(scratch.path(), fixtures);
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    // A program that starts its MPD and is then killed without any clean-up.
    pid_t program = ::fork();
    if (program == 0) {
        ::close(report[0]);
        auto mpd = PrivateMpd::start(configuration, "/usr/bin/mpd");
        pid_t child = mpd->pid().value_or(0);
        (void)!::write(report[1], &child, sizeof child);
        ::pause();
        ::_exit(0);
    }
    ::close(report[1]);
    pid_t child = 0;
    ASSERT_EQ(::read(report[0], &child, sizeof child), static_cast<ssize_t>(sizeof child));
    ::close(report[0]);
    ASSERT_GT(child, 0);
    EXPECT_TRUE(isRunning(child));
    ::kill(program, SIGKILL);
    ::waitpid(program, nullptr, 0);
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (isRunning(child) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(isRunning(child)) << "MPD outlived the program that started it";
}

TEST(PrivateMpd, SaysWhyItCouldNotStart)
{
    Scratch scratch;
    // Not MPD: a program that fails at once, with a word on standard error.
    auto fake = scratch.path() / "mpd";
    std::ofstream(fake) << "#!/bin/sh\necho 'config error: no such plugin' >&2\nexit 1\n";
    ::chmod(fake.c_str(), 0755);
    try {
        PrivateMpd::start(configurationIn(scratch.path(), scratch.path() / "Music"), fake);
        FAIL() << "started";
    } catch (const PrivateMpdError &error) {
        EXPECT_EQ(error.kind(), PrivateMpdError::Kind::failedToStart);
        EXPECT_EQ(std::string(error.what()),
                  "Wheelbox couldn\u2019t start its music server (MPD): config error: no such plugin");
    }
    EXPECT_EQ(std::string(PrivateMpdError::notInstalled().what()),
              "MPD isn\u2019t installed. Install the mpd package and open Wheelbox again.");
}

// The main loop of a supervising program: a GLib context of the test's own, run until `done` holds
// or the deadline passes.
class SupervisingLoop {
  public:
    SupervisingLoop() : context_(g_main_context_new()), loop_(context_) { g_main_context_unref(context_); }

    GLibMainLoop &loop() { return loop_; }

    bool runUntil(const std::function<bool()> &done, std::chrono::seconds timeout = 20s)
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            g_main_context_iteration(context_, FALSE);
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

  private:
    GMainContext *context_;
    GLibMainLoop loop_;
};

bool wasReaped(pid_t pid)
{
    return ::waitpid(pid, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

// The MPD processes running over `configuration`'s file.
std::vector<pid_t> mpdsOf(const PrivateMpdConfiguration &configuration)
{
    std::vector<pid_t> found;
    for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
        std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        pid_t pid = std::stoi(name);
        const std::string command = test::procText(pid, "cmdline");
        if (command.find(configuration.configurationFile().string()) != std::string::npos && isRunning(pid))
            found.push_back(pid);
    }
    return found;
}

pid_t parentOf(pid_t pid)
{
    auto stat = test::processStat(pid);
    return stat ? stat->parent : 0;
}

TEST(PrivateMpd, IsStartedAgainWhenItDiesAndKeepsItsFilesToTheUser)
{
    std::string fixtures;
    WHEELBOX_SERVICE_VARIABLE(fixtures, "WHEELBOX_TEST_MUSIC_DIR");
    Scratch scratch;
    auto configuration = configurationIn(scratch.path(), fixtures);
    auto mpd = PrivateMpd::start(configuration, "/usr/bin/mpd");
    SupervisingLoop program;
    auto status = std::make_shared<MpdServerStatus>();
    mpd->supervise(program.loop(), status);
    ASSERT_TRUE(mpd->pid());
    pid_t first = *mpd->pid();

    ::kill(first, SIGKILL);
    ASSERT_TRUE(program.runUntil([&] { return status->read().unavailable.has_value(); }));
    auto reading = status->read();
    EXPECT_TRUE(reading.recovering);
    EXPECT_TRUE(reading.unavailable->starts_with("MPD stopped (killed by signal 9")) << *reading.unavailable;
    EXPECT_TRUE(wasReaped(first)) << "no zombie is left";

    ASSERT_TRUE(program.runUntil([&] { return !status->read().unavailable; }));
    ASSERT_TRUE(mpd->pid());
    EXPECT_NE(*mpd->pid(), first);
    EXPECT_NO_THROW(mpd::MpdConnection::open(mpd->address(), 2s));
    EXPECT_EQ(mpdsOf(configuration), std::vector<pid_t>{*mpd->pid()});

    // What MPD and the program keep in the state folder, and the folders themselves, are the user's
    // alone.
    for (const auto &folder : {configuration.stateDirectory.parent_path(), configuration.runtimeDirectory}) {
        for (const auto &entry : std::filesystem::recursive_directory_iterator(folder)) {
            struct stat info {};
            ASSERT_EQ(::lstat(entry.path().c_str(), &info), 0);
            if (!S_ISSOCK(info.st_mode)) {
                EXPECT_EQ(info.st_mode & 0077, 0u) << entry.path();
            }
        }
    }

    pid_t second = *mpd->pid();
    mpd.reset();
    EXPECT_TRUE(wasReaped(second));
}

TEST(PrivateMpd, AnMpdThatKeepsEndingIsTriedLessOftenAndSaysWhy)
{
    std::string fixtures;
    WHEELBOX_SERVICE_VARIABLE(fixtures, "WHEELBOX_TEST_MUSIC_DIR");
    Scratch scratch;
    // MPD, unless the test has broken it: then it fails at once, with a word on standard error.
    auto executable = scratch.path() / "mpd";
    auto broken = scratch.path() / "broken";
    auto starts = scratch.path() / "starts";
    std::ofstream(executable) << "#!/bin/sh\ndate +%s.%N >>'" << starts.string() << "'\nif [ -e '"
                              << broken.string()
                              << "' ]; then echo 'config error: broken on purpose' >&2; exit 1; fi\n"
                                 "exec /usr/bin/mpd \"$@\"\n";
    ::chmod(executable.c_str(), 0755);
    auto startTimes = [&] {
        std::vector<double> times;
        std::ifstream in(starts);
        for (double time; in >> time;)
            times.push_back(time);
        return times;
    };

    auto configuration = configurationIn(scratch.path(), fixtures);
    auto mpd = PrivateMpd::start(configuration, executable);
    SupervisingLoop program;
    auto status = std::make_shared<MpdServerStatus>();
    mpd->supervise(program.loop(), status,
                   {.firstDelay = 200ms,
                    .longestDelay = 800ms,
                    .steadyAfter = 60s,
                    .readyTimeout = 15s,
                    .ownerCheck = 1s});
    std::ofstream(broken).put('\n');
    ::kill(*mpd->pid(), SIGKILL);
    ASSERT_TRUE(program.runUntil([&] { return startTimes().size() >= 5; }));
    auto times = startTimes();
    // Each restart waits twice as long as the one before, up to the longest delay.
    const double least[] = {0.4, 0.8, 0.8};
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_GE(times[i + 2] - times[i + 1], least[i] * 0.95) << "restart " << i + 2;
    auto reading = status->read();
    ASSERT_TRUE(reading.unavailable);
    EXPECT_TRUE(reading.recovering);
    EXPECT_NE(reading.unavailable->find("exit status 1: config error: broken on purpose"), std::string::npos)
        << *reading.unavailable;

    // Mended, it comes back by itself.
    std::filesystem::remove(broken);
    ASSERT_TRUE(program.runUntil([&] { return !status->read().unavailable; }));
    EXPECT_NO_THROW(mpd::MpdConnection::open(mpd->address(), 2s));
}

// Two copies of the program start at once over one state folder (no session bus kept them single):
// one MPD runs, and when the copy that runs it ends, the other takes over.
TEST(PrivateMpd, TwoStartsAtOnceRunOneMpdAndTheOtherTakesOver)
{
    std::string fixtures;
    WHEELBOX_SERVICE_VARIABLE(fixtures, "WHEELBOX_TEST_MUSIC_DIR");
    Scratch scratch;
    auto configuration = configurationIn(scratch.path(), fixtures);
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    pid_t programs[2];
    for (pid_t &program : programs) {
        program = ::fork();
        if (program == 0) {
            ::close(report[0]);
            auto mpd = PrivateMpd::start(configuration, "/usr/bin/mpd");
            SupervisingLoop loop;
            mpd->supervise(loop.loop(), std::make_shared<MpdServerStatus>());
            pid_t child = mpd->pid().value_or(0);
            (void)!::write(report[1], &child, sizeof child);
            loop.runUntil([] { return false; }, 60s);
            ::_exit(0);
        }
    }
    ::close(report[1]);
    pid_t started[2] = {};
    ASSERT_EQ(::read(report[0], &started[0], sizeof(pid_t)), static_cast<ssize_t>(sizeof(pid_t)));
    ASSERT_EQ(::read(report[0], &started[1], sizeof(pid_t)), static_cast<ssize_t>(sizeof(pid_t)));
    ::close(report[0]);
    auto endPrograms = [&] {
        for (pid_t program : programs) {
            ::kill(program, SIGKILL);
            ::waitpid(program, nullptr, 0);
        }
    };
    EXPECT_EQ(std::count(std::begin(started), std::end(started), 0), 1) << "one copy started MPD";
    auto running = mpdsOf(configuration);
    ASSERT_EQ(running.size(), 1u);
    pid_t owner = parentOf(running[0]);
    pid_t other = owner == programs[0] ? programs[1] : programs[0];

    ::kill(owner, SIGKILL);
    ::waitpid(owner, nullptr, 0);
    auto deadline = std::chrono::steady_clock::now() + 20s;
    auto runByTheOther = [&] {
        auto found = mpdsOf(configuration);
        return found.size() == 1 && parentOf(found[0]) == other;
    };
    while (!runByTheOther() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    running = mpdsOf(configuration);
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(parentOf(running[0]), other) << "the remaining copy runs MPD";
    // It answers once it has loaded its database.
    auto answers = [&] {
        try {
            mpd::MpdConnection::open({configuration.socket().string(), 0, {}}, 1s);
            return true;
        } catch (const std::exception &) {
            return false;
        }
    };
    deadline = std::chrono::steady_clock::now() + 15s;
    while (!answers() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(answers());
    endPrograms();
    deadline = std::chrono::steady_clock::now() + 10s;
    while (!mpdsOf(configuration).empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(mpdsOf(configuration).empty());
}

TEST(UserFolders, SocketsStayInFoldersOfTheUsersOwn)
{
    const char *saved = std::getenv("XDG_RUNTIME_DIR");
    std::optional<std::string> restore = saved ? std::optional<std::string>(saved) : std::nullopt;
    struct Case {
        std::optional<std::string> runtime;
        std::filesystem::path folder;
    } cases[] = {
        {"/run/user/7", "/run/user/7/wheelbox"},
        // Not WebKit's cache folder, where GLib would fall back.
        {std::nullopt, userFolders::state() / "run"},
        {"relative/run", userFolders::state() / "run"},
    };
    for (const Case &c : cases) {
        if (c.runtime)
            ::setenv("XDG_RUNTIME_DIR", c.runtime->c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        EXPECT_EQ(userFolders::runtime(), c.folder) << c.runtime.value_or("unset");
    }
    if (restore)
        ::setenv("XDG_RUNTIME_DIR", restore->c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");

    Scratch scratch;
    auto open = scratch.path() / "open";
    std::filesystem::create_directory(open);
    ::chmod(open.c_str(), 0755);
    userFolders::makePrivate(open);
    userFolders::makePrivate(scratch.path() / "new" / "folder");
    for (const auto &folder : {open, scratch.path() / "new" / "folder"}) {
        struct stat info {};
        ASSERT_EQ(::stat(folder.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u) << folder;
    }
    // Never through a link, nor over a file.
    std::filesystem::create_directory_symlink(open, scratch.path() / "link");
    std::ofstream(scratch.path() / "file") << "x";
    EXPECT_THROW(userFolders::makePrivate(scratch.path() / "link"), std::runtime_error);
    EXPECT_THROW(userFolders::makePrivate(scratch.path() / "file"), std::runtime_error);
}

// A library that counts its reads.
// The app and wheelbox-device choose through this one function: what it chose must be what the
// script tool and every in-process default reach, and a user's own MPD_HOST is left as it is.
TEST(MpdLocator, TheProgramsChoiceIsNamedToItsToolsUnlessTheUserNamedIt)
{
    test::FakeMpdServer mpd([](const std::string &) { return test::FakeMpdServer::Reply{"OK\n"}; });
    Scratch scratch;
    std::filesystem::create_directories(scratch.path() / "mpd");
    auto socket = scratch.path() / "mpd" / "socket";
    std::filesystem::create_symlink(mpd.socketPath(), socket);
    ::unsetenv("MPD_HOST");
    ::unsetenv("MPD_PORT");
    ::setenv("XDG_RUNTIME_DIR", scratch.path().c_str(), 1);

    auto hasEntry = [](const std::string &entry) {
        auto environment = automationToolEnvironment();
        return std::find(environment->begin(), environment->end(), entry) != environment->end();
    };
    auto choice = MpdLocator::chooseForProgram({"/nowhere", 0, {}});
    EXPECT_EQ(choice.source, Source::found);
    EXPECT_EQ(choice.address.host, socket.string());
    EXPECT_STREQ(std::getenv("MPD_HOST"), socket.c_str());
    EXPECT_TRUE(hasEntry("MPD_HOST=" + socket.string()));

    ::setenv("MPD_HOST", "/srv/mpd.sock", 1);
    choice = MpdLocator::chooseForProgram({"/nowhere", 0, {}});
    EXPECT_EQ(choice.source, Source::environment);
    EXPECT_EQ(choice.address.host, "/srv/mpd.sock");
    EXPECT_FALSE(hasEntry("MPD_HOST=/nowhere"));
    ::unsetenv("MPD_HOST");
}

class CountingLibrary final : public LibrarySource {
  public:
    explicit CountingLibrary(int &reads) : reads_(reads) {}
    LibraryContents open() override
    {
        ++reads_;
        return {};
    }

  private:
    int &reads_;
};

// An MPD that reports a database update for its first `scanningPolls` status replies (or always,
// for -1) and `stats` as its database statistics.
test::FakeMpdServer scanningMpd(int scanningPolls, std::string stats)
{
    auto polls = std::make_shared<std::atomic<int>>(0);
    return test::FakeMpdServer([polls, scanningPolls, stats](const std::string &command) {
        if (command == "status") {
            bool scanning = scanningPolls < 0 || polls->fetch_add(1) < scanningPolls;
            return test::FakeMpdServer::Reply{std::string("volume: -1\nstate: stop\n") +
                                              (scanning ? "updating_db: 7\n" : "") + "OK\n"};
        }
        if (command == "stats")
            return test::FakeMpdServer::Reply{stats + "OK\n"};
        return test::FakeMpdServer::ok();
    });
}

TEST(MpdLibraryGate, WaitsForAFirstScanOnly)
{
    struct Case {
        const char *what;
        int scanningPolls;
        const char *stats;
        bool reads;
    } cases[] = {
        {"no update running", 0, "songs: 0\ndb_update: 0\n", true},
        {"an update of a database saved with songs", -1, "songs: 22\ndb_update: 1700000000\n", true},
        {"a first scan that ends during the wait", 3, "songs: 5\ndb_update: 0\n", true},
        // Songs arrive while the folder is walked: a count alone would let half a library through.
        {"a first scan past the wait", -1, "songs: 5\ndb_update: 0\n", false},
        {"an update of a database saved empty", -1, "songs: 0\ndb_update: 1700000000\n", false},
    };
    for (const auto &c : cases) {
        auto mpd = scanningMpd(c.scanningPolls, c.stats);
        mpd::MpdAddress address{mpd.socketPath(), 0, {}};
        int reads = 0;
        MpdLibraryGate gate(
            std::make_unique<CountingLibrary>(reads), address, nullptr,
            MpdLibraryGate::Settings{.scanWait = 400ms, .pollInterval = 20ms, .quitting = {}});
        if (c.reads) {
            EXPECT_NO_THROW(gate.open()) << c.what;
            EXPECT_EQ(reads, 1) << c.what;
        } else {
            try {
                gate.open();
                ADD_FAILURE() << c.what << ": read the library";
            } catch (const LibrarySourceError &error) {
                EXPECT_STREQ(error.what(), "Music library is loading\u2026") << c.what;
            }
            EXPECT_EQ(reads, 0) << c.what;
        }
    }
}

TEST(MpdLibraryGate, QuittingEndsTheWaitAtOnce)
{
    auto mpd = scanningMpd(-1, "songs: 0\ndb_update: 0\n");
    int reads = 0;
    auto quitting = std::make_shared<std::atomic<bool>>(true);
    // An hour's wait: only the quit can end it.
    MpdLibraryGate gate(std::make_unique<CountingLibrary>(reads), {mpd.socketPath(), 0, {}}, nullptr,
                        MpdLibraryGate::Settings{.scanWait = 1h, .quitting = quitting});
    EXPECT_THROW(gate.open(), LibrarySourceError);
    EXPECT_EQ(reads, 0);
}

TEST(MpdLibraryGate, AnMpdThatDoesNotAnswerIsNamed)
{
    mpd::MpdAddress nowhere{"/nonexistent/wheelbox/socket", 0, {}};
    MpdLibraryGate gate(std::make_unique<MpdLibrarySource>(nowhere), nowhere, nullptr, {});
    try {
        gate.open();
        FAIL() << "read a library";
    } catch (const LibrarySourceError &error) {
        EXPECT_TRUE(
            std::string(error.what()).starts_with("Can\u2019t reach MPD at /nonexistent/wheelbox/socket"))
            << error.what();
    }
}

// The folder and the address appear as they are: the page's writer escapes them at its boundary.
TEST(MpdLibraryGate, AnEmptyLibrarySaysWhereMusicGoes)
{
    struct Case {
        std::optional<std::filesystem::path> ownFolder;
        mpd::MpdAddress address;
        std::string text;
    };
    const Case cases[] = {
        {"/home/ada/Music",
         {"/run/user/1000/wheelbox/mpd.socket", 0, {}},
         "Put music in /home/ada/Music, the folder Wheelbox\u2019s own MPD reads, then select No Music "
         "Found."},
        {"/home/a \"b\"\n</script>",
         {"/s", 0, {}},
         "Put music in /home/a \"b\"\n</script>, the folder Wheelbox\u2019s own MPD reads, then select No "
         "Music "
         "Found."},
        {std::nullopt,
         {"/run/mpd/socket", 0, {}},
         "The MPD at /run/mpd/socket has no songs: add music to its folder, then select No Music Found."},
        {std::nullopt,
         {"music.local", 6600, "secret"},
         "The MPD at music.local:6600 has no songs: add music to its folder, then select No Music Found."},
    };
    for (const auto &c : cases) {
        int reads = 0;
        MpdLibraryGate gate(std::make_unique<CountingLibrary>(reads), c.address, nullptr,
                            MpdLibraryGate::Settings{.quitting = {}, .ownMusicFolder = c.ownFolder});
        EXPECT_EQ(gate.whereMusicGoes(), c.text);
    }
}

// While the program's MPD is gone, a read says why; while the program brings it back, a read waits
// a while for it first.
TEST(MpdLibraryGate, WhileMpdIsGoneReadsSayWhyOrWaitForItsReturn)
{
    auto mpd = scanningMpd(0, "songs: 3\ndb_update: 1700000000\n");
    struct Case {
        const char *what;
        std::string reason;
        bool recovering;
        // When it is back, if it comes back.
        std::optional<std::chrono::milliseconds> backAfter;
        bool reads;
    } cases[] = {
        {"not installed: at once", PrivateMpdError::notInstalled().what(), false, 100ms, false},
        {"coming back within the wait", "MPD stopped (killed by signal 9, Killed).", true, 150ms, true},
        {"not back within the wait", "MPD stopped (exit status 1: config error).", true, std::nullopt, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto status = std::make_shared<MpdServerStatus>();
        status->setUnavailable(c.reason, c.recovering);
        int reads = 0;
        MpdLibraryGate gate(
            std::make_unique<CountingLibrary>(reads), {mpd.socketPath(), 0, {}}, status,
            MpdLibraryGate::Settings{.scanWait = 600ms, .pollInterval = 20ms, .quitting = {}});
        std::jthread supervisor([&](std::stop_token stop) {
            auto until = std::chrono::steady_clock::now() + c.backAfter.value_or(1h);
            while (!stop.stop_requested() && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(5ms);
            if (!stop.stop_requested())
                status->setAvailable();
        });
        auto started = std::chrono::steady_clock::now();
        try {
            gate.open();
            EXPECT_TRUE(c.reads) << "read the library";
        } catch (const LibrarySourceError &error) {
            EXPECT_FALSE(c.reads) << error.what();
            EXPECT_EQ(std::string(error.what()), c.reason);
        }
        EXPECT_EQ(reads, c.reads ? 1 : 0);
        if (!c.recovering) {
            EXPECT_LT(std::chrono::steady_clock::now() - started, 100ms) << "no wait for an MPD never coming";
        }
    }
}

} // namespace
} // namespace wheelbox
