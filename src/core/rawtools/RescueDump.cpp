// The rescue dump's phases, as GNU ddrescue makes them, each pass forwards
// (or, with `reverse`, backwards):
//   1. copying the non-tried areas in READ CDs of up to 27 sectors: after a
//      failed read its sectors are non-trimmed. Pass 1 skips ahead after a
//      failure (the skip doubling while reads keep failing, back to its
//      first size after a good one), leaving the skipped sectors non-tried;
//      pass 2 runs the other way over them and leaves the rest of an area
//      after its first failure; pass 3 reads what is left without skipping;
//   2. trimming: each non-trimmed area one sector per command, from its
//      leading edge forward and its trailing edge backward up to the first
//      failure each way; the rest is non-scraped;
//   3. scraping: the non-scraped sectors, and the sectors that an earlier
//      run left bad, one sector per command;
//   4. retrying: N more passes over the sectors still bad, alternately
//      forwards and backwards.
// Trimming and scraping may be left out: their areas then stay in the map
// for a later run. Only sectors the map does not mark finished are read;
// each sector read whole is written at its place in the image and marked
// finished, a sector that failed alone is marked bad. A run that resumes
// from a map first compares a sample of the finished sectors with the disc.
#include "rawtools/RescueDump.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "drive/Mode1Sector.h"
#include "drive/SectorBuffer.h"
#include "drive/SectorReader.h"
#include "rawtools/PhysicalDump.h"
#include "rawtools/RescueMap.h"
#include "rawtools/RescueProgress.h"
#include "rawtools/StatusTimer.h"
#include "volume/PackedFormat.h"
#include "volume/VolumeImage.h"

namespace kestrow {
namespace {

constexpr std::uint64_t kSectorBytes = format::kRawSectorSize;
constexpr std::uint64_t kChunkSectors = static_cast<std::uint64_t>(kSectorsPerReadCd);

// Sectors [begin, end).
struct SectorSpan {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

const char* Direction(bool forward) { return forward ? "(forwards)" : "(backwards)"; }

// How a copying pass leaves an area after a failed read.
enum class Skipping {
  kGrowing,         // skip ahead, further after each failure in a row
  kRestOfTheArea,   // leave the rest of the non-tried area
  kNone,            // read on
};

// One rescue over sectors [first, end) of the disc: one method per phase.
class RescueRun {
 public:
  RescueRun(SectorReader& reader, RescueMap& map, RescueTarget& target, DumpCallbacks& callbacks,
            const RescueSettings& settings, std::uint64_t first, std::uint64_t end, RescueStatistics& stats)
      : m_reader(reader), m_map(map), m_target(target), m_callbacks(callbacks), m_settings(settings),
        m_first(first), m_end(end), m_stats(stats), m_progress(map, first, end, settings.clock),
        m_lastSave(m_progress.Now()) {}

  // All phases; false when the run stopped early (cancelled, timed out, or a file failed).
  bool Run();
  // Replaces the map on the disk, the status line saying where the run is.
  bool SaveMap();
  void MarkFinished() {
    m_mapStatus = RescuePhase{m_mapStatus.position, rescue::kFinished, 1, "Finished"};
    m_progress.BeginPass(RescueStage::kFinished, 1, Forward(true));
  }
  void CountResults();
  // The status a display shows now; safe from another thread while the run goes on.
  RescueStatus Status() { return m_progress.Snapshot(); }

 private:
  enum class Step { kGood, kBad, kStop };

  void AlignToSectors();
  bool CopyNonTried();
  bool CopyPass(int pass, bool forward, Skipping skipping);
  bool TrimErrors();
  bool TrimEdge(std::uint64_t& begin, std::uint64_t& end, bool leading, bool& stopped);
  bool ScrapeErrors();
  bool Retry(int pass);
  // Reads `count` sectors from `lba` in one command; the leading good ones
  // are stored, the rest non-trimmed. -1 when the run must stop.
  std::int64_t CopyChunk(std::uint64_t lba, std::uint64_t count);
  Step ReadAlone(std::uint64_t lba);
  bool Store(std::uint64_t lba, std::span<const std::uint8_t> raw);
  void Mark(std::uint64_t lba, std::uint64_t count, char status);
  // Before each command: stops on a request or a timeout, shows progress,
  // saves the map when due.
  bool KeepGoing(std::uint64_t lba);
  std::vector<SectorSpan> SpansWith(char status) const;
  bool Finished(std::uint64_t lba) const {
    return m_map.StatusOf(lba * kSectorBytes, (lba + 1) * kSectorBytes) == rescue::kFinished;
  }
  void BeginPass(RescueStage phase, char status, int pass, bool forward, std::string comment);
  // `forward` as the run goes: turned round with `reverse`.
  bool Forward(bool forward) const { return forward != m_settings.reverse; }

  SectorReader& m_reader;
  RescueMap& m_map;
  RescueTarget& m_target;
  DumpCallbacks& m_callbacks;
  const RescueSettings& m_settings;
  std::uint64_t m_first;
  std::uint64_t m_end;
  RescueStatistics& m_stats;
  RescueProgress m_progress;
  RescuePhase m_mapStatus;
  std::chrono::steady_clock::time_point m_lastSave;
  std::uint64_t m_finished = 0;
  std::vector<SectorSpan> m_badBefore;  // bad when the run began
  std::vector<std::uint8_t> m_chunk;
};

bool RescueRun::Run() {
  AlignToSectors();
  m_finished = m_map.BytesWith(rescue::kFinished, m_first * kSectorBytes, m_end * kSectorBytes) / kSectorBytes;
  m_badBefore = SpansWith(rescue::kBad);
  if (!CopyNonTried()) return false;
  if (m_settings.trim && !TrimErrors()) return false;
  if (m_settings.scrape && !ScrapeErrors()) return false;
  for (int pass = 1; pass <= m_settings.retries; ++pass) {
    if (!Retry(pass)) return false;
  }
  return true;
}

// A mapfile written by another program may split a sector between areas;
// such a sector takes the least advanced status of its bytes.
void RescueRun::AlignToSectors() {
  std::vector<std::uint64_t> split;
  for (const RescueMap::Area& area : m_map.Areas(m_first * kSectorBytes, m_end * kSectorBytes)) {
    if (area.begin % kSectorBytes != 0) split.push_back(area.begin / kSectorBytes);
  }
  for (const std::uint64_t lba : split) {
    Mark(lba, 1, m_map.StatusOf(lba * kSectorBytes, (lba + 1) * kSectorBytes));
  }
}

std::vector<SectorSpan> RescueRun::SpansWith(char status) const {
  std::vector<SectorSpan> spans;
  for (const RescueMap::Area& area : m_map.Areas(m_first * kSectorBytes, m_end * kSectorBytes)) {
    if (area.status == status) spans.push_back({area.begin / kSectorBytes, area.end / kSectorBytes});
  }
  return spans;
}

void RescueRun::BeginPass(RescueStage phase, char status, int pass, bool forward, std::string comment) {
  m_mapStatus.status = status;
  m_mapStatus.pass = pass;
  m_mapStatus.comment = std::move(comment);
  m_progress.BeginPass(phase, pass, forward);
}

bool RescueRun::CopyNonTried() {
  const bool skipping = m_settings.skipMin > 0;
  const Skipping passes[] = {skipping ? Skipping::kGrowing : Skipping::kNone, Skipping::kRestOfTheArea,
                             Skipping::kNone};
  for (int pass = 1; pass <= 3; ++pass) {
    if (SpansWith(rescue::kNonTried).empty()) return true;
    if (!CopyPass(pass, Forward(pass != 2), passes[pass - 1])) return false;
  }
  return true;
}

bool RescueRun::CopyPass(int pass, bool forward, Skipping skipping) {
  BeginPass(RescueStage::kCopying, rescue::kNonTried, pass, forward,
            "Copying non-tried blocks... Pass " + std::to_string(pass) + " " + Direction(forward));
  const std::uint64_t firstSkip = std::max<std::uint64_t>(m_settings.skipMin, 1);
  const std::uint64_t maxSkip =
      m_settings.skipMax > 0 ? std::max<std::uint64_t>(m_settings.skipMax, firstSkip)
                             : std::max<std::uint64_t>(firstSkip, (m_end - m_first) / 100);
  std::uint64_t skip = firstSkip;
  std::vector<SectorSpan> spans = SpansWith(rescue::kNonTried);
  if (!forward) std::reverse(spans.begin(), spans.end());
  for (const SectorSpan& span : spans) {
    // The sectors of the span not yet read: [low, high).
    std::uint64_t low = span.begin;
    std::uint64_t high = span.end;
    while (low < high) {
      const std::uint64_t count = std::min(kChunkSectors, high - low);
      const std::uint64_t lba = forward ? low : high - count;
      if (!KeepGoing(lba)) return false;
      const std::int64_t good = CopyChunk(lba, count);
      if (good < 0) return false;
      if (forward) {
        low += count;
      } else {
        high -= count;
      }
      if (static_cast<std::uint64_t>(good) == count) {
        skip = firstSkip;
        continue;
      }
      if (skipping == Skipping::kRestOfTheArea) break;
      if (skipping == Skipping::kNone) continue;
      // The skipped sectors stay non-tried, for the passes after this one.
      const std::uint64_t skipped = std::min(skip, high - low);
      if (forward) {
        low += skipped;
      } else {
        high -= skipped;
      }
      skip = std::min(skip * 2, maxSkip);
    }
  }
  return true;
}

bool RescueRun::TrimErrors() {
  const bool forward = Forward(true);
  BeginPass(RescueStage::kTrimming, rescue::kNonTrimmed, 1, forward,
            std::string("Trimming failed blocks... ") + Direction(forward));
  std::vector<SectorSpan> spans = SpansWith(rescue::kNonTrimmed);
  if (!forward) std::reverse(spans.begin(), spans.end());
  for (SectorSpan span : spans) {
    bool stopped = false;
    // Forwards the leading edge comes first, backwards the trailing one.
    if (!TrimEdge(span.begin, span.end, forward, stopped) && stopped) return false;
    if (!TrimEdge(span.begin, span.end, !forward, stopped) && stopped) return false;
    Mark(span.begin, span.end - span.begin, rescue::kNonScraped);
  }
  return true;
}

// Reads one edge of [begin, end) inwards, one sector per command, up to and
// including the first that fails; an edge next to a bad sector counts as
// trimmed already. False when a read failed or the run must stop (`stopped`).
bool RescueRun::TrimEdge(std::uint64_t& begin, std::uint64_t& end, bool leading, bool& stopped) {
  const auto badAt = [&](std::uint64_t lba) {
    return lba >= m_first && lba < m_end && m_map.StatusOf(lba * kSectorBytes, (lba + 1) * kSectorBytes) == rescue::kBad;
  };
  if (begin < end && (leading ? begin > 0 && badAt(begin - 1) : badAt(end))) return true;
  while (begin < end) {
    const std::uint64_t lba = leading ? begin : end - 1;
    if (!KeepGoing(lba)) {
      stopped = true;
      return false;
    }
    const Step step = ReadAlone(lba);
    if (step == Step::kStop) {
      stopped = true;
      return false;
    }
    if (leading) {
      ++begin;
    } else {
      --end;
    }
    if (step == Step::kBad) return false;
  }
  return true;
}

bool RescueRun::ScrapeErrors() {
  const bool forward = Forward(true);
  BeginPass(RescueStage::kScraping, rescue::kNonScraped, 1, forward,
            std::string("Scraping failed blocks... ") + Direction(forward));
  std::vector<SectorSpan> spans = SpansWith(rescue::kNonScraped);
  spans.insert(spans.end(), m_badBefore.begin(), m_badBefore.end());
  std::sort(spans.begin(), spans.end(), [](const SectorSpan& a, const SectorSpan& b) { return a.begin < b.begin; });
  std::vector<std::uint64_t> sectors;
  for (const SectorSpan& span : spans) {
    for (std::uint64_t lba = span.begin; lba < span.end; ++lba) sectors.push_back(lba);
  }
  if (!forward) std::reverse(sectors.begin(), sectors.end());
  for (const std::uint64_t lba : sectors) {
    if (Finished(lba)) continue;
    if (!KeepGoing(lba) || ReadAlone(lba) == Step::kStop) return false;
  }
  return true;
}

bool RescueRun::Retry(int pass) {
  const bool forward = Forward(pass % 2 == 1);
  BeginPass(RescueStage::kRetrying, rescue::kBad, pass, forward,
            "Retrying bad sectors... Retry " + std::to_string(pass) + " " + Direction(forward));
  std::vector<std::uint64_t> sectors;
  for (const SectorSpan& span : SpansWith(rescue::kBad)) {
    for (std::uint64_t lba = span.begin; lba < span.end; ++lba) sectors.push_back(lba);
  }
  if (!forward) std::reverse(sectors.begin(), sectors.end());
  for (const std::uint64_t lba : sectors) {
    if (!KeepGoing(lba) || ReadAlone(lba) == Step::kStop) return false;
  }
  return true;
}

std::int64_t RescueRun::CopyChunk(std::uint64_t lba, std::uint64_t count) {
  if (m_chunk.empty()) m_chunk.resize(static_cast<std::size_t>(kSectorsPerReadCd) * kSectorBytes + 16);
  std::uint8_t* buffer = AlignSectorBuffer(m_chunk.data());
  const std::int32_t got = std::max(
      0, m_reader.ReadRawSectors(static_cast<std::int32_t>(lba), static_cast<std::int32_t>(count), buffer));
  if (m_reader.DiscChanged()) {
    // A command answered for another disc read nothing of this one: the map stays as it was.
    m_stats.discChanged = true;
    return -1;
  }
  m_progress.ReadEnded(got > 0);
  if (got > 0 && static_cast<std::uint64_t>(got) < count) m_progress.ReadEnded(false);
  for (std::int32_t i = 0; i < got; ++i) {
    if (!Store(lba + static_cast<std::uint64_t>(i),
               std::span<const std::uint8_t>(buffer + static_cast<std::size_t>(i) * kSectorBytes, kSectorBytes))) {
      return -1;
    }
  }
  Mark(lba, static_cast<std::uint64_t>(got), rescue::kFinished);
  Mark(lba + static_cast<std::uint64_t>(got), count - static_cast<std::uint64_t>(got), rescue::kNonTrimmed);
  return got;
}

RescueRun::Step RescueRun::ReadAlone(std::uint64_t lba) {
  SectorBuffer buffer;
  // Only a whole sector counts: a short transfer leaves a hole in the image.
  if (m_reader.ReadRawSector(static_cast<std::int32_t>(lba), buffer.data()) != static_cast<std::int32_t>(kSectorBytes)) {
    if (m_reader.DiscChanged()) {
      m_stats.discChanged = true;
      return Step::kStop;
    }
    m_progress.ReadEnded(false);
    Mark(lba, 1, rescue::kBad);
    return Step::kBad;
  }
  m_progress.ReadEnded(true);
  if (!Store(lba, buffer.raw())) return Step::kStop;
  Mark(lba, 1, rescue::kFinished);
  return Step::kGood;
}

bool RescueRun::Store(std::uint64_t lba, std::span<const std::uint8_t> raw) {
  if (!m_target.WriteSector(static_cast<std::uint32_t>(lba), raw)) {
    m_stats.writeFailed = true;
    m_stats.failure = m_target.Failure();
    return false;
  }
  ++m_stats.readThisRun;
  m_stats.bytesWritten += raw.size();
  return true;
}

void RescueRun::Mark(std::uint64_t lba, std::uint64_t count, char status) {
  if (count == 0) return;
  if (status == rescue::kFinished) m_finished += count;  // only sectors not finished are ever read
  m_progress.Mark(lba, count, status);
}

bool RescueRun::KeepGoing(std::uint64_t lba) {
  m_mapStatus.position = lba * kSectorBytes;
  m_progress.ReadingAt(lba);
  m_callbacks.ShowProgress(static_cast<int>(m_finished), static_cast<int>(m_end - m_first));
  if (m_callbacks.CancelRequested()) {
    m_stats.cancelled = true;
    return false;
  }
  if (m_settings.timeout.count() > 0 && m_progress.SinceLastGoodRead() >= m_settings.timeout) {
    m_stats.timedOut = true;
    return false;
  }
  if (m_progress.Now() - m_lastSave < m_settings.saveInterval) return true;
  return SaveMap();
}

bool RescueRun::SaveMap() {
  m_lastSave = m_progress.Now();
  m_stats.mapSaved = m_target.SaveMap(m_map.Format(m_mapStatus));
  if (m_stats.mapSaved) return true;
  m_stats.writeFailed = true;
  m_stats.failure = m_target.Failure();
  return false;
}

void RescueRun::CountResults() {
  const std::uint64_t begin = m_first * kSectorBytes;
  const std::uint64_t end = m_end * kSectorBytes;
  m_stats.rangeSectors = static_cast<std::uint32_t>(m_end - m_first);
  m_stats.finished = static_cast<std::uint32_t>(m_map.BytesWith(rescue::kFinished, begin, end) / kSectorBytes);
  m_stats.bad = static_cast<std::uint32_t>(m_map.BytesWith(rescue::kBad, begin, end) / kSectorBytes);
  m_stats.untried = m_stats.rangeSectors - m_stats.finished - m_stats.bad;
}

// Spread samples besides the last sector and the volume area's first.
constexpr std::uint32_t kSpreadSamples = 4;

bool Finished(const RescueMap& map, std::uint64_t lba) {
  return map.StatusOf(lba * kSectorBytes, (lba + 1) * kSectorBytes) == rescue::kFinished;
}

// True when `raw` is a raw sector of `lba`: the sync pattern, and the
// sector's own address in its header.
bool IsRawSectorOf(std::uint32_t lba, std::span<const std::uint8_t> raw) {
  const std::array<std::uint8_t, 3> address = SectorAddress(lba);
  return HasSyncPattern(raw) && std::equal(address.begin(), address.end(), raw.begin() + 12);
}

// The first sector of the volume area, when `last` is the disc's last
// sector as the image holds it and begins with the "Trkb" trailer.
std::optional<std::uint64_t> VolumeAreaStart(std::span<const std::uint8_t> last, std::uint32_t lastLba) {
  if (!IsRawSectorOf(lastLba, last)) return std::nullopt;
  const auto user = last.subspan(format::kUserDataOffset, format::kUserDataSize);
  const std::optional<TrackTrailer> trailer = ParseTrackTrailer(user);
  if (!trailer || !trailer->HasSignature()) return std::nullopt;
  return trailer->volumeStart / format::kUnitsPerSector;
}

// The finished sectors a resumed rescue compares with the disc: the last
// sector, the volume area's first sector, and the first finished sector at
// or after each of a few points spread over the disc; each once, ascending.
std::vector<std::uint64_t> FinishedSamples(const RescueMap& map, std::uint64_t sectorCount,
                                           std::optional<std::uint64_t> volumeStart) {
  std::vector<std::uint64_t> samples{sectorCount - 1};
  if (volumeStart && *volumeStart < sectorCount) samples.push_back(*volumeStart);
  for (std::uint64_t k = 0; k < kSpreadSamples; ++k) {
    const std::uint64_t point = sectorCount * k / kSpreadSamples;
    for (const RescueMap::Area& area : map.Areas(point * kSectorBytes, sectorCount * kSectorBytes)) {
      if (area.status != rescue::kFinished) continue;
      samples.push_back((area.begin + kSectorBytes - 1) / kSectorBytes);
      break;
    }
  }
  std::erase_if(samples, [&](std::uint64_t lba) { return lba >= sectorCount || !Finished(map, lba); });
  std::sort(samples.begin(), samples.end());
  samples.erase(std::unique(samples.begin(), samples.end()), samples.end());
  return samples;
}

}  // namespace

bool MatchesResumedImage(SectorReader& reader, const RescueMap& map, RescueTarget& target, std::uint32_t sectorCount,
                         RescueStatistics& stats) {
  const auto refuse = [&](RescueRefusal why, std::uint64_t lba, const char* what) {
    stats.refusal = why;
    stats.failure = "sector " + std::to_string(lba) + " of the image " + what;
    return false;
  };
  SectorBuffer image;
  SectorBuffer disc;
  const std::span<std::uint8_t> imageBytes(image.data(), kSectorBytes);
  std::optional<std::uint64_t> volumeStart;
  if (Finished(map, sectorCount - 1) && target.ReadSector(sectorCount - 1, imageBytes)) {
    volumeStart = VolumeAreaStart(image.raw(), sectorCount - 1);
  }
  for (const std::uint64_t lba : FinishedSamples(map, sectorCount, volumeStart)) {
    if (!target.ReadSector(static_cast<std::uint32_t>(lba), imageBytes)) {
      return refuse(RescueRefusal::kNotRawImage, lba, "cannot be read back");
    }
    const bool raw = IsRawSectorOf(static_cast<std::uint32_t>(lba), image.raw());
    const bool read = reader.ReadRawSector(static_cast<std::int32_t>(lba), disc.data()) ==
                      static_cast<std::int32_t>(kSectorBytes);
    if (read && std::equal(image.raw().begin(), image.raw().end(), disc.raw().begin())) continue;
    // Audio sectors have no sync pattern on the disc either, and two drives
    // may read them a few bytes apart.
    if (!raw && read && !HasSyncPattern(disc.raw())) continue;
    if (!raw) {
      return refuse(RescueRefusal::kNotRawImage, lba,
                    "is not a raw sector of that address (no sync pattern, or another address)");
    }
    // A sector the drive cannot read now says nothing either way.
    if (read) return refuse(RescueRefusal::kOtherDisc, lba, "differs from that sector of the disc in the drive");
  }
  return true;
}

DumpResult RescueSectorRange(SectorReader& reader, RescueMap& map, RescueTarget& target, DumpCallbacks& callbacks,
                             const RescueSettings& settings, RescueStatistics& stats) {
  stats = RescueStatistics{};
  if (!reader.Open()) return DumpResult::kCannotOpen;
  const std::int32_t count = reader.ReadCapacity();
  if (count <= 0) {
    reader.Close();
    return DumpResult::kFailed;
  }
  const auto sectorCount = static_cast<std::uint32_t>(count);
  std::uint32_t start = 1;
  std::uint32_t end = sectorCount;
  if (!callbacks.ChooseSectorRange(sectorCount, start, end) || !ValidateSectorRange(start, end, sectorCount).empty()) {
    reader.Close();
    return DumpResult::kFailed;
  }
  // The image covers the whole disc, whatever the range.
  map.Extend(std::uint64_t{sectorCount} * kSectorBytes);
  const SectorUse previous = reader.SetSectorUse(SectorUse::kWholeSectors);
  // Nothing is read into, or written over, an image of another disc.
  if (!MatchesResumedImage(reader, map, target, sectorCount, stats)) {
    reader.SetSectorUse(previous);
    reader.Close();
    return DumpResult::kFailed;
  }
  callbacks.ProgressStarted();
  RescueRun run(reader, map, target, callbacks, settings, start - 1, end, stats);
  // The display hears of the run on a timer of its own, also while a read hangs.
  StatusTimer timer(settings.statusInterval, [&] { callbacks.ShowRescueStatus(run.Status()); });
  const bool ranToTheEnd = run.Run();
  if (ranToTheEnd) run.MarkFinished();
  // The image ends where the disc does, so that it reads as the disc at once.
  if (!stats.writeFailed && !target.ReachSize(std::uint64_t{sectorCount} * kSectorBytes)) {
    stats.writeFailed = true;
    stats.failure = target.Failure();
  }
  // The map is saved on every way out, a failed write included: what was
  // written before it is kept.
  run.SaveMap();
  run.CountResults();
  timer.Stop();
  callbacks.ShowRescueStatus(run.Status());
  reader.SetSectorUse(previous);
  reader.Close();
  callbacks.ProgressFinished();
  const bool complete = stats.finished == stats.rangeSectors && !stats.writeFailed && !stats.cancelled &&
                        !stats.discChanged;
  return complete ? DumpResult::kCompleted : DumpResult::kFailed;
}

}  // namespace kestrow
