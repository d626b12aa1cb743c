#pragma once

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

namespace wheelbox::posix {

// Makes a write to a pipe or socket whose reader has gone fail with EPIPE instead of ending the
// program: libmpdclient sends without MSG_NOSIGNAL, so a server that hangs up mid-command would
// otherwise kill whoever was talking to it. Call first thing in main, before any thread starts.
// Children spawned by the program start with every signal at its default action, so they are not
// affected.
void ignoreBrokenPipes() noexcept;

// For code that may run where nobody ignored SIGPIPE (a library in a test, a thread of a program
// that did not start here). Keeps SIGPIPE from ending the program while this thread writes to a peer that may
// have gone (a socket whose server quit, through a library that does not send with MSG_NOSIGNAL): blocks it
// for the thread while the guard lives, and swallows the one raised meanwhile. Writes then fail with EPIPE,
// which their caller handles.
class SigpipeGuard {
  public:
    SigpipeGuard() noexcept
    {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
        wasPending_ = isPending();
    }

    ~SigpipeGuard()
    {
        int error = errno;
        if (!wasPending_ && isPending()) {
            timespec immediately{};
            while (sigtimedwait(&pipe_, nullptr, &immediately) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
        errno = error;
    }

    SigpipeGuard(const SigpipeGuard &) = delete;
    SigpipeGuard &operator=(const SigpipeGuard &) = delete;

  private:
    static bool isPending() noexcept
    {
        sigset_t pending;
        sigpending(&pending);
        return sigismember(&pending, SIGPIPE) == 1;
    }

    sigset_t pipe_;
    sigset_t previous_;
    bool wasPending_ = false;
};

} // namespace wheelbox::posix
