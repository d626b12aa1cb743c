#include "transport/ChildProcess.hpp"

#include "lib/posix/ProcessDescriptor.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace wheelbox {

namespace {

[[noreturn]] void throwErrno(const char *what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

// Descriptors 0 to 2 are skipped so that a parent started without them can never hand the child a
// pipe that the standard-descriptor set-up would overwrite.
FileDescriptor aboveStandardDescriptors(FileDescriptor fd)
{
    if (fd.get() > STDERR_FILENO)
        return fd;
    int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0)
        throwErrno("fcntl");
    return FileDescriptor(moved);
}

struct Pipe {
    FileDescriptor read;
    FileDescriptor write;
};

Pipe makePipe()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throwErrno("pipe2");
    Pipe pipe{FileDescriptor(fds[0]), FileDescriptor(fds[1])};
    pipe.read = aboveStandardDescriptors(std::move(pipe.read));
    pipe.write = aboveStandardDescriptors(std::move(pipe.write));
    return pipe;
}

void setNonBlocking(const FileDescriptor &fd)
{
    int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK) != 0)
        throwErrno("fcntl");
}

class SpawnActions {
  public:
    SpawnActions()
    {
        if (int error = ::posix_spawn_file_actions_init(&actions_))
            throw std::system_error(error, std::generic_category(), "posix_spawn_file_actions_init");
    }
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions &) = delete;
    SpawnActions &operator=(const SpawnActions &) = delete;

    void dup2(int fd, int target) { check(::posix_spawn_file_actions_adddup2(&actions_, fd, target)); }
    void openNull(int target)
    {
        check(::posix_spawn_file_actions_addopen(&actions_, target, "/dev/null", O_WRONLY, 0));
    }
    void closeFrom(int fd) { check(::posix_spawn_file_actions_addclosefrom_np(&actions_, fd)); }
    const posix_spawn_file_actions_t *get() const noexcept { return &actions_; }

  private:
    static void check(int error)
    {
        if (error)
            throw std::system_error(error, std::generic_category(), "posix_spawn_file_actions");
    }
    posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
  public:
    // The child starts with no blocked signals and every signal at its default action, whatever the
    // spawning thread blocks or the program ignores (SIGPIPE, typically).
    SpawnAttributes()
    {
        if (int error = ::posix_spawnattr_init(&attributes_))
            throw std::system_error(error, std::generic_category(), "posix_spawnattr_init");
        sigset_t none;
        sigset_t all;
        ::sigemptyset(&none);
        ::sigfillset(&all);
        ::posix_spawnattr_setsigmask(&attributes_, &none);
        ::posix_spawnattr_setsigdefault(&attributes_, &all);
        // A process group of its own, so that whatever it leaves running in it ends with it.
        ::posix_spawnattr_setpgroup(&attributes_, 0);
        ::posix_spawnattr_setflags(&attributes_,
                                   POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    }
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
    SpawnAttributes(const SpawnAttributes &) = delete;
    SpawnAttributes &operator=(const SpawnAttributes &) = delete;

    const posix_spawnattr_t *get() const noexcept { return &attributes_; }

  private:
    posix_spawnattr_t attributes_;
};

// Without pidfds (kernels before 5.3, or a sandbox that filters the call) a thread waits for the
// child without reaping it and then closes the pipe's write end: the read end then polls like a
// pidfd. The owner still reaps, so the pid stays this child's until then.
void watchWithThread(pid_t pid, FileDescriptor ended)
{
    int fd = ended.release();
    try {
        std::thread([pid, fd] {
            siginfo_t info{};
            while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
            }
            ::close(fd);
        }).detach();
    } catch (...) {
        // No thread: the pipe reads as ended at once and the owner's blocking reap does the waiting.
        ::close(fd);
    }
}

// Ends what the child left running in its process group. Called between its end and its reap:
// until the reap the leader's pid, and so the group's id, cannot be given to anyone else.
void endGroup(pid_t pid) noexcept
{
    ::kill(-pid, SIGKILL);
}

void reportThreadWatch(int error) noexcept
{
    static std::once_flag reported;
    std::call_once(reported, [error] {
        std::fprintf(stderr, "wheelbox: pidfd_open failed (%s); script processes are watched by threads\n",
                     std::strerror(error));
    });
}

} // namespace

ChildProcess::Spawned ChildProcess::spawn(const std::filesystem::path &executable,
                                          const std::vector<std::string> &arguments,
                                          const std::vector<std::string> &environment, Output output)
{
    Pipe input = makePipe();
    Pipe standardOutput;
    Pipe standardError;
    SpawnActions actions;
    actions.dup2(input.read.get(), STDIN_FILENO);
    if (output == Output::capture) {
        standardOutput = makePipe();
        standardError = makePipe();
        actions.dup2(standardOutput.write.get(), STDOUT_FILENO);
        actions.dup2(standardError.write.get(), STDERR_FILENO);
    } else {
        actions.openNull(STDOUT_FILENO);
        actions.openNull(STDERR_FILENO);
    }
    actions.closeFrom(STDERR_FILENO + 1);
    SpawnAttributes attributes;

    std::vector<char *> argv;
    std::string program = executable.string();
    argv.push_back(program.data());
    std::vector<std::string> argumentCopies = arguments;
    for (std::string &argument : argumentCopies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> environmentCopies = environment;
    std::vector<char *> envp;
    for (std::string &entry : environmentCopies)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    // Prepared before the spawn, so that nothing can fail between the spawn and the watch.
    Pipe endedPipe = makePipe();

    pid_t pid = 0;
    if (int error =
            ::posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), envp.data()))
        throw std::system_error(error, std::generic_category(), "posix_spawn");

    // Nothing else in the program reaps children by pid wildcard, so until it is waited for the pid
    // names this child (at worst a zombie) and the pidfd is taken safely.
    Spawned spawned;
    if (auto pidfd = posix::openProcessDescriptor(pid); pidfd.isOpen()) {
        spawned.process = std::shared_ptr<ChildProcess>(new ChildProcess(pid, std::move(pidfd), false));
    } else {
        reportThreadWatch(errno);
        watchWithThread(pid, std::move(endedPipe.write));
        spawned.process =
            std::shared_ptr<ChildProcess>(new ChildProcess(pid, std::move(endedPipe.read), true));
    }
    spawned.input = std::move(input.write);
    spawned.output = std::move(standardOutput.read);
    spawned.error = std::move(standardError.read);
    for (const FileDescriptor *fd : {&spawned.input, &spawned.output, &spawned.error}) {
        if (fd->isOpen())
            setNonBlocking(*fd);
    }
    return spawned;
}

ChildProcess::~ChildProcess()
{
    if (reaped_.load() || reap(false))
        return;
    // Still running: reap it whenever it ends instead of leaving a zombie behind.
    idtype_t type = watchedByThread_ ? P_PID : P_PIDFD;
    auto id = static_cast<id_t>(watchedByThread_ ? pid_ : endedDescriptor_.get());
    int fd = endedDescriptor_.release();
    try {
        std::thread([type, id, fd, pid = pid_] {
            siginfo_t info{};
            while (::waitid(type, id, &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
            }
            endGroup(pid);
            while (::waitid(type, id, &info, WEXITED) < 0 && errno == EINTR) {
            }
            ::close(fd);
        }).detach();
    } catch (...) {
        ::close(fd);
    }
}

void ChildProcess::signal(int number) noexcept
{
    if (!watchedByThread_) {
        // After the reap the kernel answers ESRCH; the pidfd never points at another process.
        if (!reaped_.load())
            posix::signalProcess(endedDescriptor_, number);
        return;
    }
    // Until the reap the pid is this child's, a zombie at worst.
    std::lock_guard lock(reapLock_);
    if (!reaped_.load())
        ::kill(pid_, number);
}

void ChildProcess::terminate() noexcept
{
    signal(SIGTERM);
}

void ChildProcess::kill() noexcept
{
    signal(SIGKILL);
}

bool ChildProcess::reap(bool block) noexcept
{
    siginfo_t info{};
    int result;
    // True once reaped; the flags are set before a signal by pid can look at them.
    auto record = [&] {
        if (result < 0) {
            // ECHILD: the child was reaped elsewhere (SIGCHLD set to SIG_IGN); its status is lost.
            reaped_.store(true);
            return true;
        }
        if (info.si_pid == 0)
            return false;
        exitedSuccessfully_.store(info.si_code == CLD_EXITED && info.si_status == 0);
        reaped_.store(true);
        return true;
    };
    idtype_t type = watchedByThread_ ? P_PID : P_PIDFD;
    auto id = static_cast<id_t>(watchedByThread_ ? pid_ : endedDescriptor_.get());
    // Wait for the end without reaping, so that a signal by pid is never held up meanwhile and what
    // the child left in its group is ended while the group's id is still the child's.
    do {
        result = ::waitid(type, id, &info, WEXITED | WNOWAIT | (block ? 0 : WNOHANG));
    } while (result < 0 && errno == EINTR);
    if (result == 0 && info.si_pid == 0)
        return false;
    if (result == 0)
        endGroup(pid_);
    std::lock_guard lock(reapLock_);
    info = {};
    do {
        result = ::waitid(type, id, &info, WEXITED | WNOHANG);
    } while (result < 0 && errno == EINTR);
    return record();
}

bool ChildProcess::waitUntil(std::chrono::steady_clock::time_point deadline) noexcept
{
    while (!reaped_.load()) {
        auto remaining = deadline - std::chrono::steady_clock::now();
        if (remaining < std::chrono::nanoseconds::zero())
            remaining = std::chrono::nanoseconds::zero();
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(remaining);
        timespec timeout{static_cast<time_t>(seconds.count()),
                         static_cast<long>((remaining - seconds).count())};
        pollfd watch{endedDescriptor_.get(), POLLIN, 0};
        int ready = ::ppoll(&watch, 1, &timeout, nullptr);
        if (ready < 0 && errno == EINTR)
            continue;
        // Readable means ended, so the blocking reap returns at once.
        return reap(ready > 0);
    }
    return true;
}

bool ChildProcess::waitFor(std::chrono::nanoseconds interval) noexcept
{
    return waitUntil(std::chrono::steady_clock::now() + interval);
}

void ChildProcess::wait() noexcept
{
    if (!reaped_.load())
        reap(true);
}

} // namespace wheelbox
