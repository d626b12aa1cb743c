#include "linux/PrivateMpd.hpp"

#include "lib/mpd/MpdProbe.hpp"
#include "lib/posix/ProcessDescriptor.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace wheelbox {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool isExecutable(const std::filesystem::path &path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

// The folder for the socket: made, owned by us and closed to everyone else.
void prepareRuntimeDirectory(const std::filesystem::path &folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder.parent_path(), error);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw PrivateMpdError::failedToStart("cannot make " + folder.string() + ": " + std::strerror(errno));
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid())
        throw PrivateMpdError::failedToStart(folder.string() + " is not a folder of yours");
    if ((status.st_mode & 0077) != 0 && ::chmod(folder.c_str(), 0700) != 0)
        throw PrivateMpdError::failedToStart("cannot close " + folder.string() + " to other users");
}

void writeConfiguration(const PrivateMpdConfiguration &configuration, const std::string &text)
{
    auto file = configuration.configurationFile();
    auto temporary = file;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << text;
        out.close();
        if (!out)
            throw PrivateMpdError::failedToStart("cannot write " + temporary.string());
    }
    std::error_code error;
    std::filesystem::rename(temporary, file, error);
    if (error)
        throw PrivateMpdError::failedToStart("cannot write " + file.string() + ": " + error.message());
}

// The last line MPD wrote about itself, for the user: its console first (configuration errors go
// there), else its log.
std::string lastLine(const PrivateMpdConfiguration &configuration)
{
    for (const auto &file : {configuration.consoleFile(), configuration.logFile()}) {
        std::ifstream in(file);
        std::string line;
        std::string last;
        while (std::getline(in, line)) {
            if (line.find_first_not_of(" \t") != std::string::npos)
                last = line;
        }
        if (!last.empty())
            return last.size() > 300 ? last.substr(0, 300) + "\u2026" : last;
    }
    return "MPD stopped as it started";
}

} // namespace

PrivateMpdError PrivateMpdError::notInstalled()
{
    return PrivateMpdError(Kind::notInstalled,
                           "MPD isn\u2019t installed. Install the mpd package and open Wheelbox again.");
}

PrivateMpdError PrivateMpdError::failedToStart(std::string_view reason)
{
    return PrivateMpdError(Kind::failedToStart,
                           "Wheelbox couldn\u2019t start its music server (MPD): " + std::string(reason));
}

std::optional<std::filesystem::path> PrivateMpd::findExecutable(std::string_view pathVariable)
{
    std::vector<std::filesystem::path> folders;
    std::size_t start = 0;
    while (start <= pathVariable.size()) {
        std::size_t end = std::min(pathVariable.find(':', start), pathVariable.size());
        // An empty entry means the current folder to a shell; a program never runs MPD from there.
        std::filesystem::path folder(pathVariable.substr(start, end - start));
        if (folder.is_absolute())
            folders.push_back(folder);
        start = end + 1;
    }
    folders.emplace_back("/usr/bin");
    folders.emplace_back("/usr/sbin");
    for (const auto &folder : folders) {
        if (isExecutable(folder / "mpd"))
            return folder / "mpd";
    }
    return std::nullopt;
}

PrivateMpd::PrivateMpd(mpd::MpdAddress address, pid_t pid, posix::FileDescriptor ended) noexcept
    : address_(std::move(address)), pid_(pid), ended_(std::move(ended))
{}

std::unique_ptr<PrivateMpd> PrivateMpd::start(const PrivateMpdConfiguration &configuration,
                                              const std::filesystem::path &executable,
                                              std::chrono::milliseconds timeout)
{
    std::string text;
    try {
        text = configuration.text();
    } catch (const std::invalid_argument &error) {
        throw PrivateMpdError::failedToStart(error.what());
    }
    std::error_code error;
    std::filesystem::create_directories(configuration.stateDirectory / "playlists", error);
    if (error)
        throw PrivateMpdError::failedToStart("cannot make " + configuration.stateDirectory.string() + ": " +
                                             error.message());
    // MPD refuses to start without its music folder; an empty one is a library with no songs.
    std::filesystem::create_directories(configuration.musicDirectory, error);
    prepareRuntimeDirectory(configuration.runtimeDirectory);
    writeConfiguration(configuration, text);

    mpd::MpdAddress address{configuration.socket().string(), 0, std::nullopt};
    if (mpd::answers(address, 500ms))
        return std::unique_ptr<PrivateMpd>(new PrivateMpd(address, -1, {}));
    // What a killed MPD left behind; MPD will not bind over it.
    std::filesystem::remove(configuration.socket(), error);
    bool hadDatabase = std::filesystem::exists(configuration.databaseFile(), error);

    posix::FileDescriptor input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    posix::FileDescriptor console(
        ::open(configuration.consoleFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!input.isOpen() || !console.isOpen())
        throw PrivateMpdError::failedToStart("cannot open " + configuration.consoleFile().string());

    // Everything the child needs is made before fork: after it, only async-signal-safe calls.
    std::string program = executable.string();
    std::string configurationFile = configuration.configurationFile().string();
    std::string noDaemon = "--no-daemon";
    std::vector<char *> argv{program.data(), noDaemon.data(), configurationFile.data(), nullptr};
    pid_t parent = ::getpid();

    pid_t pid = ::fork();
    if (pid < 0)
        throw PrivateMpdError::failedToStart(std::string("cannot start a process: ") + std::strerror(errno));
    if (pid == 0) {
        // Ended with the program, however it ends; if it already has, end now.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        // Its own process group: a Ctrl+C on the terminal reaches the program, which stops MPD in
        // order, not MPD directly.
        ::setpgid(0, 0);
        sigset_t all;
        ::sigemptyset(&all);
        ::sigprocmask(SIG_SETMASK, &all, nullptr);
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        for (int number = 1; number < NSIG; ++number)
            ::sigaction(number, &standard, nullptr);
        if (::dup2(input.get(), STDIN_FILENO) < 0 || ::dup2(console.get(), STDOUT_FILENO) < 0 ||
            ::dup2(console.get(), STDERR_FILENO) < 0)
            ::_exit(127);
        if (::syscall(SYS_close_range, 3U, ~0U, 0U) != 0) {
            for (int descriptor = 3; descriptor < 1024; ++descriptor)
                ::close(descriptor);
        }
        ::execve(program.c_str(), argv.data(), environ);
        ::_exit(127);
    }

    auto owned = std::unique_ptr<PrivateMpd>(new PrivateMpd(address, pid, posix::openProcessDescriptor(pid)));
    auto deadline = Clock::now() + timeout;
    while (true) {
        if (owned->waitForEnd(Clock::now())) {
            owned->pid_ = -1;
            throw PrivateMpdError::failedToStart(lastLine(configuration));
        }
        if (mpd::answers(address, 500ms))
            break;
        if (Clock::now() >= deadline) {
            owned->stop();
            throw PrivateMpdError::failedToStart(
                "it did not answer within " +
                std::to_string(std::chrono::duration_cast<std::chrono::seconds>(timeout).count()) + " s");
        }
        std::this_thread::sleep_for(50ms);
    }
    // MPD scans a missing database by itself; an existing one may miss what changed while MPD was
    // not running to watch the folder.
    if (hadDatabase) {
        try {
            auto connection = mpd::MpdConnection::open(address, 2s);
            mpd_run_update(connection.get(), nullptr);
        } catch (const std::exception &) {
            // The library then shows what the database held.
        }
    }
    return owned;
}

PrivateMpd::~PrivateMpd()
{
    stop();
}

std::optional<pid_t> PrivateMpd::pid() const noexcept
{
    if (pid_ <= 0)
        return std::nullopt;
    return pid_;
}

bool PrivateMpd::waitForEnd(std::chrono::steady_clock::time_point deadline) noexcept
{
    if (pid_ <= 0)
        return true;
    while (true) {
        int status = 0;
        pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
        if (reaped == pid_ || (reaped < 0 && errno == ECHILD)) {
            ended_.reset();
            return true;
        }
        auto now = Clock::now();
        if (now >= deadline)
            return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        if (ended_.isOpen()) {
            pollfd watch{ended_.get(), POLLIN, 0};
            ::poll(&watch, 1,
                   static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count() + 1, 60'000)));
        } else {
            // No pidfd (an old kernel): look again shortly.
            std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(left, 20ms));
        }
    }
}

void PrivateMpd::stop() noexcept
{
    if (pid_ <= 0)
        return;
    // The pid is ours until we reap it, so neither signal can reach another process.
    ::kill(pid_, SIGTERM);
    if (!waitForEnd(Clock::now() + stopTimeout)) {
        ::kill(pid_, SIGKILL);
        waitForEnd(Clock::time_point::max());
    }
    pid_ = -1;
}

} // namespace wheelbox
