#pragma once

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

namespace wheelbox::posix {

// Keeps SIGPIPE from ending the program while this thread writes to a peer that may have gone (a
// socket whose server quit, through a library that does not send with MSG_NOSIGNAL): blocks it for
// the thread while the guard lives, and swallows the one raised meanwhile. Writes then fail with
// EPIPE, which their caller handles.
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
