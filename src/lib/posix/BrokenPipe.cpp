#include "lib/posix/BrokenPipe.hpp"

#include <csignal>

namespace wheelbox::posix {

void ignoreBrokenPipes() noexcept
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

} // namespace wheelbox::posix
