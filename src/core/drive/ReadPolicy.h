// What a reader does about a sector that cannot be read.
#pragma once

#include <cstdint>

namespace kestrow {

// The default is the program's own: one attempt, and the read ends there.
struct ReadPolicy {
  std::int32_t retries = 0;  // further one-sector reads of a sector that failed
  bool keepGoing = false;    // go on past a sector that stays unreadable
};

}  // namespace kestrow
