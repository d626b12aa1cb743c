#include "AllocationBudget.hpp"

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace {

// Bytes held through operator new, counted whether or not a budget is open.
std::size_t liveBytes = 0;
std::size_t limit = 0;

void *allocate(std::size_t size, std::size_t alignment)
{
    if (limit && (size > limit || liveBytes + size > limit))
        return nullptr;
    if (size == 0)
        size = 1;
    void *block = alignment <= alignof(std::max_align_t)
                      ? std::malloc(size)
                      : std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    if (block)
        liveBytes += malloc_usable_size(block);
    return block;
}

void release(void *block) noexcept
{
    if (!block)
        return;
    liveBytes -= malloc_usable_size(block);
    std::free(block);
}

} // namespace

AllocationBudget::AllocationBudget(std::size_t bytes) noexcept
{
    limit = liveBytes + bytes;
}

AllocationBudget::~AllocationBudget()
{
    limit = 0;
}

// Every form, so that no other definition (the sanitizer runtime's) is linked beside these.
void *operator new(std::size_t size)
{
    if (void *block = allocate(size, 0))
        return block;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size)
{
    return operator new(size);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    return allocate(size, 0);
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept
{
    return allocate(size, 0);
}
void *operator new(std::size_t size, std::align_val_t alignment)
{
    if (void *block = allocate(size, static_cast<std::size_t>(alignment)))
        return block;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size, std::align_val_t alignment)
{
    return operator new(size, alignment);
}
void *operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept
{
    return allocate(size, static_cast<std::size_t>(alignment));
}
void *operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept
{
    return allocate(size, static_cast<std::size_t>(alignment));
}
void operator delete(void *block) noexcept
{
    release(block);
}
void operator delete[](void *block) noexcept
{
    release(block);
}
void operator delete(void *block, std::size_t) noexcept
{
    release(block);
}
void operator delete[](void *block, std::size_t) noexcept
{
    release(block);
}
void operator delete(void *block, const std::nothrow_t &) noexcept
{
    release(block);
}
void operator delete[](void *block, const std::nothrow_t &) noexcept
{
    release(block);
}
void operator delete(void *block, std::align_val_t) noexcept
{
    release(block);
}
void operator delete[](void *block, std::align_val_t) noexcept
{
    release(block);
}
void operator delete(void *block, std::size_t, std::align_val_t) noexcept
{
    release(block);
}
void operator delete[](void *block, std::size_t, std::align_val_t) noexcept
{
    release(block);
}
void operator delete(void *block, std::align_val_t, const std::nothrow_t &) noexcept
{
    release(block);
}
void operator delete[](void *block, std::align_val_t, const std::nothrow_t &) noexcept
{
    release(block);
}
