#pragma once

#include <cstddef>

// The C library's heap, tuned for a program that now and then builds one very large answer (a
// library list of 100,000 rows and its text) among many small, long-lived objects. glibc keeps what
// a thread frees in that thread's arena, and raises its threshold for private mappings to the size
// of the largest block freed, so after one large list the next ones come from the arenas too and
// their pages stay with the process for good.
namespace wheelbox::posix {

// Blocks of this size and more always get mappings of their own, returned to the system when freed.
inline constexpr std::size_t largeBlockSize = std::size_t{1} << 20;

// Fixes the threshold at largeBlockSize. Call once at start, before any thread.
void keepLargeBlocksOutOfTheHeap() noexcept;

// Returns the free pages of every arena to the system: after a large answer has been written and
// freed, the small blocks it left behind otherwise keep their pages resident.
void releaseFreeHeapPages() noexcept;

// Bytes the program holds on the heap, mapped blocks included; 0 where the C library cannot tell.
// For measuring what a structure costs.
std::size_t heapBytesInUse() noexcept;

} // namespace wheelbox::posix
