// The unit tests' own operator new and delete: malloc and free, with the
// refusal of AllocationFault.h.
#include "AllocationFault.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::size_t> g_failSize{0};
std::atomic<int> g_failAfter{0};

}  // namespace

namespace kestrow::test {

void FailAllocation(std::size_t size, int after) {
  g_failAfter = after;
  g_failSize = size;
}

void StopFailingAllocations() { g_failSize = 0; }

}  // namespace kestrow::test

void* operator new(std::size_t size) {
  if (size != 0 && size == g_failSize.load(std::memory_order_relaxed) && g_failAfter.fetch_sub(1) == 1) {
    g_failSize = 0;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
