#pragma once

#include <cstddef>

// A script can grow text and lists without end (`set s to s & s` in a loop); the tool then ends with
// "Out of memory.". While a budget is open, operator new throws std::bad_alloc for a request that
// would take the program's live allocations past `bytes`, so the run ends the way the tool's does
// long before the fuzzer's own memory limit. Not thread-safe: the fuzzer runs one input at a time.
class AllocationBudget {
  public:
    explicit AllocationBudget(std::size_t bytes) noexcept;
    ~AllocationBudget();
    AllocationBudget(const AllocationBudget &) = delete;
    AllocationBudget &operator=(const AllocationBudget &) = delete;
};
