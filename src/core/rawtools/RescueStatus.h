// What a rescue dump is doing now, for a status display that is redrawn on
// a timer (so its clocks move while a read hangs). Sizes are in bytes of
// raw 2352-byte sectors, as the map counts them.
#pragma once

#include <chrono>
#include <cstdint>

namespace kestrow {

enum class RescueStage {
  kCopying,   // reading the non-tried areas
  kTrimming,  // reading a failed block's edges, one sector at a time
  kScraping,  // reading what is left of failed blocks, one sector at a time
  kRetrying,  // a retry pass over the bad sectors (pass counts them)
  kFinished,
};

struct RescueStatus {
  RescueStage stage = RescueStage::kCopying;
  int pass = 1;           // the copying pass, or the retry pass's number
  bool forward = true;    // the direction the pass reads in
  std::uint32_t position = 0;  // the LBA being read
  std::uint64_t rescued = 0;       // '+' in the range
  std::uint64_t rangeBytes = 0;    // the whole chosen range
  std::uint64_t nonTried = 0;      // '?'
  std::uint64_t nonTrimmed = 0;    // '*'
  std::uint64_t nonScraped = 0;    // '/'
  std::uint64_t bad = 0;           // '-'
  std::uint32_t badAreas = 0;      // runs of '-' in the range
  std::uint32_t readErrors = 0;    // failed reads this run
  double currentRate = 0;          // bytes per second over the last few seconds
  double averageRate = 0;          // bytes per second since the run began
  std::chrono::steady_clock::duration runTime{};
  std::chrono::steady_clock::duration remaining{};  // estimate; zero when unknown
  std::chrono::steady_clock::duration sinceLastGoodRead{};
};

}  // namespace kestrow
