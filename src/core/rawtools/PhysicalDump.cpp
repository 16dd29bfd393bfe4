#include "rawtools/PhysicalDump.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "KestrowCore.h"
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

bool CKestrowCore::DumpSectors(const std::string& path, DumpCallbacks& callbacks) {
  m_dumpStatistics = DumpStatistics{};
  const std::int32_t count = OpenAndReadCapacity();
  if (count <= 0) return false;
  const auto sectorCount = static_cast<std::uint32_t>(count);
  std::uint32_t start = 1;
  std::uint32_t end = sectorCount;
  if (!callbacks.ChooseSectorRange(sectorCount, start, end) ||
      !ValidateSectorRange(start, end, sectorCount).empty()) {
    CloseDevice();
    m_nErrorState = kErrorReadOrFormat;
    return false;
  }
  std::FILE* file = OpenFile(path, "wb");
  if (!file) {
    m_dumpStatistics.writeFailed = true;
    m_dumpStatistics.writeError = std::strerror(errno);
    CloseDevice();
    m_nErrorState = kErrorReadOrFormat;
    return false;
  }
  callbacks.ProgressStarted();
  const int total = static_cast<int>(end - start + 1);
  int done = 0;
  // The face hears of each sector before it goes to the file, as it would
  // before each single-sector read; the reads themselves come in runs.
  const auto startSector = [&] {
    callbacks.ShowProgress(done, total);
    if (!callbacks.CancelRequested()) return true;
    m_dumpStatistics.cancelled = true;
    return false;
  };
  const SectorConsumer writeSector = [&](std::int32_t, std::span<const std::uint8_t> raw) {
    if (!startSector()) return false;
    ++m_dumpStatistics.sectorsRead;
    // A full disk must not pass for a completed dump.
    if (std::fwrite(raw.data(), raw.size(), 1, file) != 1) {
      m_dumpStatistics.writeFailed = true;
      m_dumpStatistics.writeError = std::strerror(errno);
      return false;
    }
    m_dumpStatistics.bytesWritten += raw.size();
    ++done;
    return true;
  };
  // The dump keeps whole sectors: a sector that checks also gets the parity
  // its data was written with.
  const SectorUse previous = m_reader.SetSectorUse(SectorUse::kWholeSectors);
  bool ok = ReadSectorRun(static_cast<std::int32_t>(start - 1), total, writeSector);
  m_reader.SetSectorUse(previous);
  m_dumpStatistics.discChanged = DiscChanged();
  if (!ok && !m_dumpStatistics.cancelled && !m_dumpStatistics.writeFailed && !m_dumpStatistics.discChanged) {
    // The read of sector `done` failed; its progress text comes first.
    startSector();
  }
  if (std::fclose(file) != 0 && ok) {
    m_dumpStatistics.writeFailed = true;
    m_dumpStatistics.writeError = std::strerror(errno);
    ok = false;
  }
  CloseDevice();
  if (!ok) m_nErrorState = kErrorReadOrFormat;
  callbacks.ProgressFinished();
  return ok;
}

}  // namespace kestrow
