#include "rawtools/RescueProgress.h"

#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

constexpr std::chrono::seconds kCurrentRateWindow{5};
constexpr std::chrono::seconds kRemainingWindow{30};

double PerSecond(std::uint64_t bytes, std::chrono::steady_clock::duration span) {
  const double seconds = std::chrono::duration<double>(span).count();
  return seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
}

}  // namespace

RescueProgress::RescueProgress(RescueMap& map, std::uint64_t first, std::uint64_t end, Clock clock)
    : m_map(map),
      m_firstByte(first * format::kRawSectorSize),
      m_endByte(end * format::kRawSectorSize),
      m_clock(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); })),
      m_started(m_clock()),
      m_rescuedAtStart(map.BytesWith(rescue::kFinished, m_firstByte, m_endByte)),
      m_position(first),
      m_lastGoodRead(m_started) {}

void RescueProgress::Mark(std::uint64_t lba, std::uint64_t count, char status) {
  if (count == 0) return;
  std::lock_guard<std::mutex> lock(m_lock);
  m_map.Set(lba * format::kRawSectorSize, (lba + count) * format::kRawSectorSize, status);
}

void RescueProgress::BeginPass(RescueStage stage, int pass, bool forward) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_stage = stage;
  m_pass = pass;
  m_forward = forward;
}

void RescueProgress::ReadingAt(std::uint64_t lba) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_position = lba;
}

void RescueProgress::ReadEnded(bool good) {
  const TimePoint now = m_clock();
  std::lock_guard<std::mutex> lock(m_lock);
  if (good) {
    m_lastGoodRead = now;
  } else {
    ++m_readErrors;
  }
}

std::chrono::steady_clock::time_point RescueProgress::Now() const { return m_clock(); }

std::chrono::steady_clock::duration RescueProgress::SinceLastGoodRead() const {
  const TimePoint now = m_clock();
  std::lock_guard<std::mutex> lock(m_lock);
  return now - m_lastGoodRead;
}

std::pair<std::chrono::steady_clock::time_point, std::uint64_t> RescueProgress::SampleWithin(
    std::chrono::steady_clock::duration window) const {
  const TimePoint now = m_samples.back().first;
  std::size_t i = 0;
  while (i + 1 < m_samples.size() && now - m_samples[i].first > window) ++i;
  // A rate needs two samples: the one before the newest at least.
  if (i + 1 == m_samples.size() && i > 0) --i;
  return m_samples[i];
}

RescueStatus RescueProgress::Snapshot() {
  const TimePoint now = m_clock();
  std::lock_guard<std::mutex> lock(m_lock);
  RescueStatus status;
  status.stage = m_stage;
  status.pass = m_pass;
  status.forward = m_forward;
  status.position = static_cast<std::uint32_t>(m_position);
  status.rangeBytes = m_endByte - m_firstByte;
  bool previousBad = false;
  for (const RescueMap::Area& area : m_map.Areas(m_firstByte, m_endByte)) {
    const std::uint64_t size = area.end - area.begin;
    switch (area.status) {
      case rescue::kFinished: status.rescued += size; break;
      case rescue::kNonTried: status.nonTried += size; break;
      case rescue::kNonTrimmed: status.nonTrimmed += size; break;
      case rescue::kNonScraped: status.nonScraped += size; break;
      case rescue::kBad: status.bad += size; break;
      default: break;
    }
    const bool bad = area.status == rescue::kBad;
    if (bad && !previousBad) ++status.badAreas;
    previousBad = bad;
  }
  status.readErrors = m_readErrors;
  status.runTime = now - m_started;
  status.sinceLastGoodRead = now - m_lastGoodRead;
  const std::uint64_t rescuedThisRun = status.rescued > m_rescuedAtStart ? status.rescued - m_rescuedAtStart : 0;
  status.averageRate = PerSecond(rescuedThisRun, status.runTime);

  if (m_samples.empty()) m_samples.emplace_back(m_started, m_rescuedAtStart);
  m_samples.emplace_back(now, status.rescued);
  while (m_samples.size() > 2 && now - m_samples[1].first >= kRemainingWindow) m_samples.pop_front();
  const auto gained = [&](const std::pair<TimePoint, std::uint64_t>& from) {
    return status.rescued > from.second ? status.rescued - from.second : 0;
  };
  const auto recent = SampleWithin(kCurrentRateWindow);
  status.currentRate = PerSecond(gained(recent), now - recent.first);
  const auto& oldest = m_samples.front();
  const double rate = PerSecond(gained(oldest), now - oldest.first);
  if (rate > 0) {
    const double seconds = static_cast<double>(status.rangeBytes - status.rescued) / rate;
    status.remaining = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds));
  }
  return status;
}

}  // namespace kestrow
