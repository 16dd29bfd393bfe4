// The state of a rescue run that its status display sees, kept under one
// lock: the run's thread records what it does (every change to the map goes
// through here), a timer thread takes a snapshot with the rates and clocks.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

#include "rawtools/RescueMap.h"
#include "rawtools/RescueStatus.h"

namespace kestrow {

class RescueProgress {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // Over sectors [first, end) of `map`; `clock` tells the time (the steady
  // clock when empty). The run's clocks start now.
  RescueProgress(RescueMap& map, std::uint64_t first, std::uint64_t end, Clock clock);

  // The run's side.
  void Mark(std::uint64_t lba, std::uint64_t count, char status);
  void BeginPass(RescueStage stage, int pass, bool forward);
  void ReadingAt(std::uint64_t lba);
  // A read command ended: `good` when it brought at least one sector.
  void ReadEnded(bool good);
  std::chrono::steady_clock::time_point Now() const;
  std::chrono::steady_clock::duration SinceLastGoodRead() const;

  // The display's side: the state now. Rates are of the sectors rescued
  // this run; the current one over the last few seconds, the remaining time
  // from the rate of the last half minute.
  RescueStatus Snapshot();

 private:
  using TimePoint = std::chrono::steady_clock::time_point;

  // The rescued bytes `window` ago (the oldest sample inside it), and when.
  std::pair<TimePoint, std::uint64_t> SampleWithin(std::chrono::steady_clock::duration window) const;

  RescueMap& m_map;
  const std::uint64_t m_firstByte;
  const std::uint64_t m_endByte;
  Clock m_clock;
  const TimePoint m_started;
  std::uint64_t m_rescuedAtStart = 0;

  mutable std::mutex m_lock;  // guards the map's changes and everything below
  RescueStage m_stage = RescueStage::kCopying;
  int m_pass = 1;
  bool m_forward = true;
  std::uint64_t m_position = 0;
  std::uint32_t m_readErrors = 0;
  TimePoint m_lastGoodRead;
  std::deque<std::pair<TimePoint, std::uint64_t>> m_samples;  // (when, rescued bytes), the last half minute
};

}  // namespace kestrow
