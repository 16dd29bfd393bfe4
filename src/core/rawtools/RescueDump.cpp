// The rescue dump's passes, as GNU ddrescue makes them:
//   1. copying: forward through the non-tried areas in READ CDs of up to 27
//      sectors; after a failed read its sectors are non-trimmed, and the run
//      skips ahead (the skip doubling while reads keep failing, back to its
//      start after a good one), leaving the skipped sectors non-tried;
//   2. trimming: each non-trimmed area one sector per command, from its
//      leading edge forward and its trailing edge backward up to the first
//      failure each way; the rest is non-scraped;
//   3. scraping: the non-scraped and skipped sectors, and the sectors that an
//      earlier run left bad, one sector per command;
//   4. retrying: N more passes over the sectors still bad, alternately
//      forward and backward.
// Only sectors the map does not mark finished are read; each sector read
// whole is written at its place in the image and marked finished, a sector
// that failed alone is marked bad. A run that resumes from a map first
// compares a sample of the finished sectors with the disc.
#include "rawtools/RescueDump.h"

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "drive/Mode1Sector.h"
#include "drive/SectorBuffer.h"
#include "drive/SectorReader.h"
#include "rawtools/PhysicalDump.h"
#include "rawtools/RescueMap.h"
#include "volume/PackedFormat.h"
#include "volume/VolumeImage.h"

namespace kestrow {
namespace {

constexpr std::uint64_t kSectorBytes = format::kRawSectorSize;
constexpr std::uint64_t kInitialSkip = static_cast<std::uint64_t>(kSectorsPerReadCd);

using ReadChunk = std::function<std::int32_t(std::int32_t lba, std::int32_t count, std::uint8_t* buffer)>;
using ReadOne = std::function<std::int32_t(std::int32_t lba, std::uint8_t* buffer)>;

// Sectors [begin, end).
struct SectorSpan {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

class RescueRun {
 public:
  RescueRun(RescueMap& map, RescueTarget& target, DumpCallbacks& callbacks, const RescueSettings& settings,
            ReadChunk readChunk, ReadOne readOne, std::function<bool()> discChanged, std::uint64_t first,
            std::uint64_t end, RescueStatistics& stats)
      : m_map(map), m_target(target), m_callbacks(callbacks), m_settings(settings),
        m_readChunk(std::move(readChunk)), m_readOne(std::move(readOne)), m_discChanged(std::move(discChanged)),
        m_first(first), m_end(end), m_stats(stats), m_lastSave(std::chrono::steady_clock::now()) {}

  // All passes; false when the run stopped early (cancelled, or a file failed).
  bool Run();
  // Replaces the map on the disk, the status line saying where the run is.
  bool SaveMap();
  void MarkFinished() { m_phase = RescuePhase{m_phase.position, rescue::kFinished, 1, "Finished"}; }
  void CountResults();

 private:
  enum class Step { kGood, kBad, kStop };

  void AlignToSectors();
  bool Copy();
  bool Trim();
  bool Scrape();
  bool Retry(int pass);
  // Reads `count` sectors from `lba` in one command; the leading good ones
  // are stored, the rest non-trimmed. -1 when the run must stop.
  std::int64_t CopyChunk(std::uint64_t lba, std::uint64_t count);
  Step ReadAlone(std::uint64_t lba);
  bool Store(std::uint64_t lba, std::span<const std::uint8_t> raw);
  void Mark(std::uint64_t lba, std::uint64_t count, char status);
  // Before each command: stops on a request, shows progress, saves the map when due.
  bool KeepGoing(std::uint64_t lba);
  std::vector<SectorSpan> SpansWith(char status) const;
  void BeginPhase(char status, int pass, std::string comment);

  RescueMap& m_map;
  RescueTarget& m_target;
  DumpCallbacks& m_callbacks;
  const RescueSettings& m_settings;
  ReadChunk m_readChunk;
  ReadOne m_readOne;
  std::function<bool()> m_discChanged;  // true once the disc may be another: nothing more is marked
  std::uint64_t m_first;
  std::uint64_t m_end;
  RescueStatistics& m_stats;
  RescuePhase m_phase;
  std::chrono::steady_clock::time_point m_lastSave;
  std::uint64_t m_finished = 0;
  std::vector<SectorSpan> m_badBefore;  // bad when the run began
  std::vector<std::uint8_t> m_chunk;
};

bool RescueRun::Run() {
  AlignToSectors();
  m_finished = m_map.BytesWith(rescue::kFinished, m_first * kSectorBytes, m_end * kSectorBytes) / kSectorBytes;
  m_badBefore = SpansWith(rescue::kBad);
  if (!Copy() || !Trim() || !Scrape()) return false;
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
    m_map.Set(lba * kSectorBytes, (lba + 1) * kSectorBytes,
              m_map.StatusOf(lba * kSectorBytes, (lba + 1) * kSectorBytes));
  }
}

std::vector<SectorSpan> RescueRun::SpansWith(char status) const {
  std::vector<SectorSpan> spans;
  for (const RescueMap::Area& area : m_map.Areas(m_first * kSectorBytes, m_end * kSectorBytes)) {
    if (area.status == status) spans.push_back({area.begin / kSectorBytes, area.end / kSectorBytes});
  }
  return spans;
}

void RescueRun::BeginPhase(char status, int pass, std::string comment) {
  m_phase.status = status;
  m_phase.pass = pass;
  m_phase.comment = std::move(comment);
}

bool RescueRun::Copy() {
  BeginPhase(rescue::kNonTried, 1, "Copying non-tried blocks... Pass 1 (forwards)");
  const std::uint64_t maxSkip = std::max<std::uint64_t>(kInitialSkip, m_end / 100);
  std::uint64_t skip = kInitialSkip;
  std::uint64_t pos = m_first;
  for (const SectorSpan& span : SpansWith(rescue::kNonTried)) {
    pos = std::max(pos, span.begin);
    while (pos < span.end) {
      if (!KeepGoing(pos)) return false;
      const std::uint64_t count = std::min<std::uint64_t>(kInitialSkip, span.end - pos);
      const std::int64_t good = CopyChunk(pos, count);
      if (good < 0) return false;
      pos += count;
      if (static_cast<std::uint64_t>(good) == count) {
        skip = kInitialSkip;
        continue;
      }
      pos += std::min(skip, span.end - pos);  // the skipped sectors stay non-tried
      skip = std::min(skip * 2, maxSkip);
    }
  }
  return true;
}

bool RescueRun::Trim() {
  BeginPhase(rescue::kNonTrimmed, 1, "Trimming failed blocks... (forwards)");
  for (SectorSpan span : SpansWith(rescue::kNonTrimmed)) {
    Step step = Step::kGood;
    while (span.begin < span.end && step == Step::kGood) {
      if (!KeepGoing(span.begin) || (step = ReadAlone(span.begin)) == Step::kStop) return false;
      ++span.begin;
    }
    step = Step::kGood;
    while (span.end > span.begin && step == Step::kGood) {
      if (!KeepGoing(span.end - 1) || (step = ReadAlone(span.end - 1)) == Step::kStop) return false;
      --span.end;
    }
    Mark(span.begin, span.end - span.begin, rescue::kNonScraped);
  }
  return true;
}

bool RescueRun::Scrape() {
  BeginPhase(rescue::kNonScraped, 1, "Scraping failed blocks... (forwards)");
  std::vector<SectorSpan> spans = SpansWith(rescue::kNonScraped);
  const std::vector<SectorSpan> skipped = SpansWith(rescue::kNonTried);
  spans.insert(spans.end(), skipped.begin(), skipped.end());
  spans.insert(spans.end(), m_badBefore.begin(), m_badBefore.end());
  std::sort(spans.begin(), spans.end(), [](const SectorSpan& a, const SectorSpan& b) { return a.begin < b.begin; });
  for (const SectorSpan& span : spans) {
    for (std::uint64_t lba = span.begin; lba < span.end; ++lba) {
      if (m_map.StatusOf(lba * kSectorBytes, (lba + 1) * kSectorBytes) == rescue::kFinished) continue;
      if (!KeepGoing(lba) || ReadAlone(lba) == Step::kStop) return false;
    }
  }
  return true;
}

bool RescueRun::Retry(int pass) {
  const bool backwards = pass % 2 == 0;
  BeginPhase(rescue::kBad, pass,
             "Retrying bad sectors... Retry " + std::to_string(pass) + (backwards ? " (backwards)" : " (forwards)"));
  std::vector<std::uint64_t> sectors;
  for (const SectorSpan& span : SpansWith(rescue::kBad)) {
    for (std::uint64_t lba = span.begin; lba < span.end; ++lba) sectors.push_back(lba);
  }
  if (backwards) std::reverse(sectors.begin(), sectors.end());
  for (const std::uint64_t lba : sectors) {
    if (!KeepGoing(lba) || ReadAlone(lba) == Step::kStop) return false;
  }
  return true;
}

std::int64_t RescueRun::CopyChunk(std::uint64_t lba, std::uint64_t count) {
  if (m_chunk.empty()) m_chunk.resize(static_cast<std::size_t>(kSectorsPerReadCd) * kSectorBytes + 16);
  std::uint8_t* buffer = AlignSectorBuffer(m_chunk.data());
  const std::int32_t got =
      std::max(0, m_readChunk(static_cast<std::int32_t>(lba), static_cast<std::int32_t>(count), buffer));
  if (m_discChanged()) {
    // A command answered for another disc read nothing of this one: the map stays as it was.
    m_stats.discChanged = true;
    return -1;
  }
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
  if (m_readOne(static_cast<std::int32_t>(lba), buffer.data()) != static_cast<std::int32_t>(kSectorBytes)) {
    if (m_discChanged()) {
      m_stats.discChanged = true;
      return Step::kStop;
    }
    Mark(lba, 1, rescue::kBad);
    return Step::kBad;
  }
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
  m_map.Set(lba * kSectorBytes, (lba + count) * kSectorBytes, status);
}

bool RescueRun::KeepGoing(std::uint64_t lba) {
  m_phase.position = lba * kSectorBytes;
  m_callbacks.ShowProgress(static_cast<int>(m_finished), static_cast<int>(m_end - m_first));
  if (m_callbacks.CancelRequested()) {
    m_stats.cancelled = true;
    return false;
  }
  const auto now = std::chrono::steady_clock::now();
  if (now - m_lastSave < m_settings.saveInterval) return true;
  return SaveMap();
}

bool RescueRun::SaveMap() {
  m_lastSave = std::chrono::steady_clock::now();
  m_stats.mapSaved = m_target.SaveMap(m_map.Format(m_phase));
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
  RescueRun run(
      map, target, callbacks, settings,
      [&reader](std::int32_t lba, std::int32_t n, std::uint8_t* buffer) { return reader.ReadRawSectors(lba, n, buffer); },
      [&reader](std::int32_t lba, std::uint8_t* buffer) { return reader.ReadRawSector(lba, buffer); },
      [&reader] { return reader.DiscChanged(); }, start - 1, end, stats);
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
  reader.SetSectorUse(previous);
  reader.Close();
  callbacks.ProgressFinished();
  const bool complete = stats.finished == stats.rangeSectors && !stats.writeFailed && !stats.cancelled &&
                        !stats.discChanged;
  return complete ? DumpResult::kCompleted : DumpResult::kFailed;
}

}  // namespace kestrow
