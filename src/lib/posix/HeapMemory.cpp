#include "lib/posix/HeapMemory.hpp"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace wheelbox::posix {

void keepLargeBlocksOutOfTheHeap() noexcept
{
#if defined(__GLIBC__)
    // Setting the threshold also ends glibc's raising of it.
    ::mallopt(M_MMAP_THRESHOLD, static_cast<int>(largeBlockSize));
#endif
}

void releaseFreeHeapPages() noexcept
{
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

std::size_t heapBytesInUse() noexcept
{
#if defined(__GLIBC__)
    auto info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
#else
    return 0;
#endif
}

} // namespace wheelbox::posix
