// A failed allocation on demand, for the tests of what a job does when
// memory runs out: the unit tests' operator new refuses the `after`-th
// allocation of exactly `size` bytes from now on, as a real allocation does
// when memory is exhausted, then goes back to allocating normally.
#pragma once

#include <cstddef>

namespace kestrow::test {

void FailAllocation(std::size_t size, int after);
// Stops refusing (when the refusal has not happened yet).
void StopFailingAllocations();

}  // namespace kestrow::test
