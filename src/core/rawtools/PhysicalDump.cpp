#include "rawtools/PhysicalDump.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "drive/SectorReader.h"
#include "platform/FileSystem.h"
#include "text/Messages.h"

namespace kestrow {

std::string FormatDumpProgress(int done, int total) {
  char text[64];
  std::snprintf(text, sizeof text, msg::kDumpProgressFormat, done, total);
  return text;
}

std::string ValidateSectorRange(std::uint32_t start, std::uint32_t end, std::uint32_t sectorCount) {
  char text[96];
  std::snprintf(text, sizeof text, msg::kIntegerBetweenFormat, 1u, sectorCount);
  if (start < 1 || start > sectorCount || end < 1 || end > sectorCount) return text;
  if (start > end) return kSectorRangeOrderMessage;
  return {};
}

DumpResult DumpSectorRange(SectorReader& reader, const std::string& path, DumpCallbacks& callbacks,
                           DumpStatistics& stats) {
  stats = DumpStatistics{};
  if (!reader.Open()) return DumpResult::kCannotOpen;
  const std::int32_t count = reader.ReadCapacity();
  if (count <= 0) {
    reader.Close();
    return DumpResult::kFailed;
  }
  const auto sectorCount = static_cast<std::uint32_t>(count);
  std::uint32_t start = 1;
  std::uint32_t end = sectorCount;
  if (!callbacks.ChooseSectorRange(sectorCount, start, end) ||
      !ValidateSectorRange(start, end, sectorCount).empty()) {
    reader.Close();
    return DumpResult::kFailed;
  }
  std::FILE* file = OpenFile(path, "wb");
  if (!file) {
    stats.writeFailed = true;
    stats.writeError = std::strerror(errno);
    reader.Close();
    return DumpResult::kFailed;
  }
  callbacks.ProgressStarted();
  const int total = static_cast<int>(end - start + 1);
  int done = 0;
  // The face hears of each sector before it goes to the file, as it would
  // before each single-sector read; the reads themselves come in runs.
  const auto startSector = [&] {
    callbacks.ShowProgress(done, total);
    if (!callbacks.CancelRequested()) return true;
    stats.cancelled = true;
    return false;
  };
  const SectorConsumer writeSector = [&](std::int32_t, std::span<const std::uint8_t> raw) {
    if (!startSector()) return false;
    ++stats.sectorsRead;
    // A full disk must not pass for a completed dump.
    if (std::fwrite(raw.data(), raw.size(), 1, file) != 1) {
      stats.writeFailed = true;
      stats.writeError = std::strerror(errno);
      return false;
    }
    stats.bytesWritten += raw.size();
    ++done;
    return true;
  };
  // The dump keeps whole sectors: a sector that checks also gets the parity
  // its data was written with.
  const SectorUse previous = reader.SetSectorUse(SectorUse::kWholeSectors);
  bool ok = reader.ReadSectorRun(static_cast<std::int32_t>(start - 1), total, writeSector);
  reader.SetSectorUse(previous);
  stats.discChanged = reader.DiscChanged();
  if (!ok && !stats.cancelled && !stats.writeFailed && !stats.discChanged) {
    // The read of sector `done` failed; its progress text comes first.
    startSector();
  }
  if (std::fclose(file) != 0 && ok) {
    stats.writeFailed = true;
    stats.writeError = std::strerror(errno);
    ok = false;
  }
  reader.Close();
  callbacks.ProgressFinished();
  return ok ? DumpResult::kCompleted : DumpResult::kFailed;
}

}  // namespace kestrow
