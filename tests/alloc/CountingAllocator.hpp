#pragma once

// A test binary that includes CountingAllocator.cpp replaces malloc, free and the global
// operator new and delete with versions that count every call and can be told to fail.

#include <cstddef>

namespace orvane::testing {

struct AllocationCounts {
  long allocations;
  long deallocations;
};

// Counts so far, over every thread.
AllocationCounts allocationCounts();

// The next allocations of exactly `size` bytes succeed `skip` times, then one fails (returns
// nullptr from malloc, throws std::bad_alloc from operator new). Disarmed once it has failed.
void failAllocationOfSize(std::size_t size, int skip = 0);

}  // namespace orvane::testing
