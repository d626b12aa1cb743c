#include "linux/PrivateMpd.hpp"

#include "lib/mpd/MpdProbe.hpp"
#include "lib/posix/ProcessDescriptor.hpp"
#include "linux/GLibMainLoop.hpp"
#include "linux/MpdServerStatus.hpp"
#include "linux/UserFolders.hpp"

#include <glib-unix.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
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

void makePrivateFolder(const std::filesystem::path &folder)
{
    try {
        userFolders::makePrivate(folder);
    } catch (const std::runtime_error &error) {
        throw PrivateMpdError::failedToStart(error.what());
    }
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
    std::filesystem::permissions(
        temporary, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, error);
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

// How a child ended, in a few words.
std::string describeEnd(int waitStatus)
{
    if (WIFSIGNALED(waitStatus)) {
        int number = WTERMSIG(waitStatus);
        const char *name = ::sigdescr_np(number);
        return "killed by signal " + std::to_string(number) + (name ? std::string(", ") + name : "");
    }
    return "exit status " + std::to_string(WEXITSTATUS(waitStatus));
}

// MPD scans a missing database by itself; an existing one may miss what changed while MPD was not
// running to watch the folder.
void lookForChanges(const mpd::MpdAddress &address)
{
    try {
        auto connection = mpd::MpdConnection::open(address, 2s);
        mpd_run_update(connection.get(), nullptr);
    } catch (const std::exception &) {
        // The library then shows what the database held.
    }
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

PrivateMpd::PrivateMpd(PrivateMpdConfiguration configuration, std::filesystem::path executable)
    : configuration_(std::move(configuration)),
      executable_(std::move(executable)), address_{configuration_.socket().string(), 0, std::nullopt}
{}

std::unique_ptr<PrivateMpd> PrivateMpd::start(const PrivateMpdConfiguration &configuration,
                                              const std::filesystem::path &executable,
                                              std::chrono::milliseconds timeout)
{
    try {
        (void)configuration.text();
    } catch (const std::invalid_argument &error) {
        throw PrivateMpdError::failedToStart(error.what());
    }
    // The state folder and what MPD writes there (database, state, log) are the user's alone, as
    // is the folder of its socket.
    makePrivateFolder(configuration.stateDirectory.parent_path());
    makePrivateFolder(configuration.stateDirectory);
    makePrivateFolder(configuration.stateDirectory / "playlists");
    makePrivateFolder(configuration.runtimeDirectory);
    // MPD refuses to start without its music folder; an empty one is a library with no songs.
    std::error_code error;
    std::filesystem::create_directories(configuration.musicDirectory, error);

    std::unique_ptr<PrivateMpd> mpd(new PrivateMpd(configuration, executable));
    auto deadline = Clock::now() + timeout;
    // Another copy of the program owns this folder's MPD: it is used once it answers, or taken over
    // when that copy ends first.
    while (!mpd->tryToOwn()) {
        if (mpd::answers(mpd->address_, 500ms))
            return mpd;
        if (Clock::now() >= deadline)
            throw PrivateMpdError::failedToStart("the Wheelbox that runs it for " +
                                                 configuration.stateDirectory.string() + " did not start it");
        std::this_thread::sleep_for(50ms);
    }
    if (mpd::answers(mpd->address_, 500ms)) {
        // Not started by any copy of this program: used, and left alone.
        mpd->lock_.reset();
        return mpd;
    }
    mpd->spawn();
    while (true) {
        if (mpd->waitForEnd(Clock::now())) {
            mpd->reap();
            throw PrivateMpdError::failedToStart(lastLine(configuration));
        }
        if (mpd::answers(mpd->address_, 500ms))
            break;
        if (Clock::now() >= deadline) {
            mpd->stop();
            throw PrivateMpdError::failedToStart(
                "it did not answer within " +
                std::to_string(std::chrono::duration_cast<std::chrono::seconds>(timeout).count()) + " s");
        }
        std::this_thread::sleep_for(50ms);
    }
    if (mpd->hadDatabase_)
        lookForChanges(mpd->address_);
    return mpd;
}

bool PrivateMpd::tryToOwn()
{
    try {
        lock_ = posix::LockFile::tryLock(configuration_.lockFile(), std::to_string(::getpid()));
    } catch (const std::system_error &error) {
        throw PrivateMpdError::failedToStart(error.what());
    }
    return lock_.has_value();
}

void PrivateMpd::spawn()
{
    writeConfiguration(configuration_, configuration_.text());
    // What a killed MPD left behind; MPD will not bind over it. The lock says no MPD of ours runs.
    std::error_code error;
    std::filesystem::remove(configuration_.socket(), error);
    hadDatabase_ = std::filesystem::exists(configuration_.databaseFile(), error);

    posix::FileDescriptor input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    posix::FileDescriptor console(
        ::open(configuration_.consoleFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    // The child keeps the lock as descriptor 3; this copy is above anything it moves first.
    posix::FileDescriptor lock(::fcntl(lock_->descriptor(), F_DUPFD_CLOEXEC, 10));
    if (!input.isOpen() || !console.isOpen() || !lock.isOpen())
        throw PrivateMpdError::failedToStart("cannot open " + configuration_.consoleFile().string());

    // Everything the child needs is made before fork: after it, only async-signal-safe calls.
    std::string program = executable_.string();
    std::string configurationFile = configuration_.configurationFile().string();
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
        // Its database, state, log and playlists are for this user alone.
        ::umask(077);
        if (::dup2(input.get(), STDIN_FILENO) < 0 || ::dup2(console.get(), STDOUT_FILENO) < 0 ||
            ::dup2(console.get(), STDERR_FILENO) < 0 || ::dup2(lock.get(), 3) < 0)
            ::_exit(127);
        if (::syscall(SYS_close_range, 4U, ~0U, 0U) != 0) {
            for (int descriptor = 4; descriptor < 1024; ++descriptor)
                ::close(descriptor);
        }
        ::execve(program.c_str(), argv.data(), environ);
        ::_exit(127);
    }
    pid_ = pid;
    ended_ = posix::openProcessDescriptor(pid);
    startedAt_ = Clock::now();
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

void PrivateMpd::reap() noexcept
{
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    ended_.reset();
    pid_ = -1;
}

bool PrivateMpd::waitForEnd(std::chrono::steady_clock::time_point deadline) noexcept
{
    if (pid_ <= 0)
        return true;
    while (true) {
        // Looked at without reaping: the pid stays this child's until reap().
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid_)
            return true;
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
    unwatchChild();
    timer_.reset();
    stopProbe();
    loop_ = nullptr;
    if (pid_ > 0) {
        // The pid is ours until we reap it, so neither signal can reach another process.
        ::kill(pid_, SIGTERM);
        if (!waitForEnd(Clock::now() + stopTimeout)) {
            ::kill(pid_, SIGKILL);
            waitForEnd(Clock::time_point::max());
        }
        reap();
    }
    lock_.reset();
}

void PrivateMpd::supervise(GLibMainLoop &loop, std::shared_ptr<MpdServerStatus> status, Restarts restarts)
{
    loop_ = &loop;
    status_ = std::move(status);
    restarts_ = restarts;
    nextDelay_ = restarts_.firstDelay;
    if (pid_ > 0) {
        watchChild();
    } else if (!lock_) {
        timer_ =
            loop_->schedule(restarts_.ownerCheck, MainLoop::Repeat::repeating, [this] { lookForOwner(); });
    }
}

void PrivateMpd::watchChild()
{
    unwatchChild();
    if (ended_.isOpen()) {
        childWatch_.reset(g_unix_fd_source_new(ended_.get(), G_IO_IN));
        g_source_set_callback(childWatch_.get(), G_SOURCE_FUNC(&PrivateMpd::onProcessDescriptor), this,
                              nullptr);
    } else {
        // No pidfd: a look every quarter of a second.
        childWatch_.reset(g_timeout_source_new(250));
        g_source_set_callback(childWatch_.get(), &PrivateMpd::onChildEvent, this, nullptr);
    }
    g_source_attach(childWatch_.get(), loop_->context());
}

void PrivateMpd::unwatchChild() noexcept
{
    childWatch_.reset();
}

gboolean PrivateMpd::onProcessDescriptor(gint, GIOCondition, gpointer data)
{
    return onChildEvent(data);
}

gboolean PrivateMpd::onChildEvent(gpointer data)
{
    auto *self = static_cast<PrivateMpd *>(data);
    int status = 0;
    pid_t reaped = ::waitpid(self->pid_, &status, WNOHANG);
    if (reaped == 0 || (reaped < 0 && errno == EINTR))
        return G_SOURCE_CONTINUE;
    // The source goes with the descriptor it watches.
    self->childWatch_.reset();
    self->ended_.reset();
    self->pid_ = -1;
    self->childEnded(status);
    return G_SOURCE_REMOVE;
}

void PrivateMpd::childEnded(int waitStatus)
{
    stopProbe();
    std::string how = describeEnd(waitStatus);
    if (WIFEXITED(waitStatus))
        how += ": " + lastLine(configuration_);
    restartLater("MPD stopped (" + how + ").");
}

void PrivateMpd::restartLater(std::string reason)
{
    // An MPD that ran steadily is brought back at once; one that keeps ending, less and less often.
    if (Clock::now() - startedAt_ >= restarts_.steadyAfter)
        nextDelay_ = restarts_.firstDelay;
    auto delay = nextDelay_;
    nextDelay_ = std::min(nextDelay_ * 2, restarts_.longestDelay);
    std::cerr << "wheelbox: " << reason << " Starting it again in "
              << std::chrono::duration<double>(delay).count() << " s.\n";
    status_->setUnavailable(reason + " Wheelbox is starting it again\u2026", true);
    timer_ = loop_->schedule(delay, MainLoop::Repeat::once, [this] { restart(); });
}

void PrivateMpd::restart()
{
    timer_.reset();
    try {
        spawn();
    } catch (const PrivateMpdError &error) {
        startedAt_ = Clock::now();
        restartLater(error.what());
        return;
    }
    watchChild();
    probeUntilReady();
}

void PrivateMpd::probeUntilReady()
{
    // Off the main thread: MPD greets only once it has loaded its database. The main loop looks for
    // the outcome, so nothing crosses threads but one atomic value and the join.
    probeOutcome_ = ProbeOutcome::pending;
    auto deadline = Clock::now() + restarts_.readyTimeout;
    probe_ =
        std::jthread([this, deadline, address = address_, hadDatabase = hadDatabase_](std::stop_token stop) {
            bool ready = false;
            while (!stop.stop_requested() && Clock::now() < deadline) {
                if (mpd::answers(address, 500ms)) {
                    ready = true;
                    break;
                }
                std::this_thread::sleep_for(100ms);
            }
            if (ready && hadDatabase && !stop.stop_requested())
                lookForChanges(address);
            probeOutcome_ = ready ? ProbeOutcome::ready : ProbeOutcome::silent;
        });
    probeTimer_ = loop_->schedule(100ms, MainLoop::Repeat::repeating, [this] { probeEnded(); });
}

void PrivateMpd::probeEnded()
{
    ProbeOutcome outcome = probeOutcome_;
    if (outcome == ProbeOutcome::pending)
        return;
    probeTimer_.reset();
    probe_.join();
    if (outcome == ProbeOutcome::ready) {
        status_->setAvailable();
        std::cerr << "wheelbox: MPD is back.\n";
    } else if (pid_ > 0) {
        // Hung: its end starts it again.
        ::kill(pid_, SIGKILL);
    }
}

void PrivateMpd::stopProbe() noexcept
{
    probeTimer_.reset();
    if (probe_.joinable()) {
        probe_.request_stop();
        probe_.join();
    }
}

void PrivateMpd::lookForOwner()
{
    // While an MPD answers there is nothing to take over (the socket answers at once either way).
    if (mpd::answers(address_, 500ms))
        return;
    // The lock is free once the copy that owned MPD and its MPD have both ended.
    try {
        if (!tryToOwn())
            return;
    } catch (const PrivateMpdError &) {
        return;
    }
    timer_.reset();
    status_->setUnavailable("MPD stopped with the Wheelbox that ran it. Wheelbox is starting it again\u2026",
                            true);
    startedAt_ = Clock::now();
    restart();
}

} // namespace wheelbox
