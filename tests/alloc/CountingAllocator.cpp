#include "CountingAllocator.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

extern "C" {
void* __libc_malloc(std::size_t size);  // NOLINT: glibc's own allocator
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);
}

namespace {

std::atomic<long> allocations{0};
std::atomic<long> deallocations{0};
std::atomic<std::size_t> failingSize{0};
std::atomic<int> failAfter{0};

bool shouldFail(std::size_t size) {
  if (size == 0 || failingSize.load() != size) return false;
  if (failAfter.fetch_sub(1) > 0) return false;
  failingSize.store(0);
  return true;
}

void* allocate(std::size_t size) {
  if (shouldFail(size)) return nullptr;
  allocations.fetch_add(1);
  return __libc_malloc(size);
}

void release(void* pointer) {
  if (pointer == nullptr) return;
  deallocations.fetch_add(1);
  __libc_free(pointer);
}

}  // namespace

namespace orvane::testing {

AllocationCounts allocationCounts() { return {allocations.load(), deallocations.load()}; }

void failAllocationOfSize(std::size_t size, int skip) {
  failAfter.store(skip);
  failingSize.store(size);
}

}  // namespace orvane::testing

extern "C" {

void* malloc(std::size_t size) { return allocate(size); }

void free(void* pointer) { release(pointer); }

void* calloc(std::size_t count, std::size_t size) {
  if (shouldFail(count * size)) return nullptr;
  allocations.fetch_add(1);
  return __libc_calloc(count, size);
}

void* realloc(void* pointer, std::size_t size) {
  if (shouldFail(size)) return nullptr;
  allocations.fetch_add(1);
  if (pointer != nullptr) deallocations.fetch_add(1);
  return __libc_realloc(pointer, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
  allocations.fetch_add(1);
  return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  allocations.fetch_add(1);
  *out = __libc_memalign(alignment, size);
  return *out == nullptr ? 12 /* ENOMEM */ : 0;
}

}  // extern "C"

void* operator new(std::size_t size) {
  void* pointer = allocate(size);
  if (pointer == nullptr) throw std::bad_alloc();
  return pointer;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* pointer) noexcept { release(pointer); }
void operator delete[](void* pointer) noexcept { release(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { release(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { release(pointer); }
