#pragma once

#include "lib/posix/FileDescriptor.hpp"

#include <sys/types.h>

namespace wheelbox::posix {

// A process descriptor (pidfd) for `pid`: it becomes readable when the process ends, and a signal
// sent through it can never reach another process that took the pid over. Take it for a child not
// yet reaped, whose pid cannot have been reused. Not open where the kernel or a sandbox refuses
// pidfd_open; errno then says why.
FileDescriptor openProcessDescriptor(pid_t pid) noexcept;

// Sends `signal` to the process behind `processDescriptor`; false with errno set when it fails
// (ESRCH once the process has been reaped).
bool signalProcess(const FileDescriptor &processDescriptor, int signal) noexcept;

} // namespace wheelbox::posix
