#include "lib/posix/ProcessDescriptor.hpp"

#include <sys/syscall.h>
#include <unistd.h>

namespace wheelbox::posix {

// Called through syscall(2): glibc 2.36 declares the wrappers without C linkage.
FileDescriptor openProcessDescriptor(pid_t pid) noexcept
{
    return FileDescriptor(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

bool signalProcess(const FileDescriptor &processDescriptor, int signal) noexcept
{
    return ::syscall(SYS_pidfd_send_signal, processDescriptor.get(), signal, nullptr, 0) == 0;
}

} // namespace wheelbox::posix
