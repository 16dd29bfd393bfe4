#include "RescueImage.h"

#include <chrono>
#include <cstdio>

#include "AppText.h"
#include "drive/MapBeside.h"
#include "drive/SourceFiles.h"
#include "platform/FileSystem.h"
#include "rawtools/RescueFiles.h"
#include "text/Messages.h"

namespace kestrow::app {
namespace {

std::string Size(std::uint64_t bytes) {
  char text[32];
  const double value = static_cast<double>(bytes);
  if (bytes < 1000) {
    std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
  } else if (bytes < 1000 * 1000) {
    std::snprintf(text, sizeof text, "%.1f kB", value / 1e3);
  } else if (bytes < 1000ull * 1000 * 1000) {
    std::snprintf(text, sizeof text, "%.1f MB", value / 1e6);
  } else {
    std::snprintf(text, sizeof text, "%.2f GB", value / 1e9);
  }
  return text;
}

std::string Clock(std::chrono::steady_clock::duration duration) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
  const long long total = seconds < 0 ? 0 : static_cast<long long>(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
  return text;
}

const char* PhaseName(RescueStage stage) {
  switch (stage) {
    case RescueStage::kCopying:
      return "Copying";
    case RescueStage::kTrimming:
      return "Trimming";
    case RescueStage::kScraping:
      return "Scraping";
    case RescueStage::kRetrying:
      return "Retrying";
    case RescueStage::kFinished:
      return "Finished";
  }
  return "";
}

std::string FileNameOf(const std::string& path) { return Utf8FromPath(PathFromUtf8(path).filename()); }

// Why a rescue that ran ended short, and what the map keeps for the next run.
std::string Shortfall(const RescueStatistics& stats, const std::string& mapPath) {
  std::string text = FillText(text::kRescueShortFormat,
                              {std::to_string(stats.bad), std::to_string(stats.untried), FileNameOf(mapPath)});
  if (!stats.mapSaved) text += ' ' + FillText(text::kRescueMapNotSavedFormat, {FileNameOf(mapPath)});
  return text;
}

}  // namespace

std::string FormatRescueStatus(const RescueStatus& status) {
  const double percent = status.rangeBytes == 0 ? 0.0
                                                : 100.0 * static_cast<double>(status.rescued) /
                                                      static_cast<double>(status.rangeBytes);
  char line[160];
  std::string text = PhaseName(status.stage);
  if (status.stage != RescueStage::kFinished) {
    std::snprintf(line, sizeof line, ", pass %d (%s), at LBA %u", status.pass,
                  status.forward ? "forwards" : "backwards", status.position);
    text += line;
  }
  std::snprintf(line, sizeof line, "\nRescued %s (%.2f%%), bad %s in %u area(s), %u read error(s)",
                Size(status.rescued).c_str(), percent, Size(status.bad).c_str(), status.badAreas, status.readErrors);
  text += line;
  std::snprintf(line, sizeof line, "\nNon-tried %s, non-trimmed %s, non-scraped %s", Size(status.nonTried).c_str(),
                Size(status.nonTrimmed).c_str(), Size(status.nonScraped).c_str());
  text += line;
  std::snprintf(line, sizeof line, "\nRate %s/s (average %s/s), run time %s, remaining %s",
                Size(static_cast<std::uint64_t>(status.currentRate)).c_str(),
                Size(static_cast<std::uint64_t>(status.averageRate)).c_str(), Clock(status.runTime).c_str(),
                status.remaining.count() > 0 ? Clock(status.remaining).c_str() : "unknown");
  text += line;
  text += "\nLast good read " + Clock(status.sinceLastGoodRead) + " ago";
  return text;
}

HostRescueCallbacks::HostRescueCallbacks(Host& host, SectorRange range) : m_host(host), m_range(range) {}

bool HostRescueCallbacks::ChooseSectorRange(std::uint32_t /*sectorCount*/, std::uint32_t& start, std::uint32_t& end) {
  start = m_range.start;
  end = m_range.end;
  return true;
}

void HostRescueCallbacks::ProgressStarted() { m_window = m_host.OpenProgressWindow(); }

void HostRescueCallbacks::ShowProgress(int done, int total) {
  if (!m_window) return;
  m_window->ShowProgress(FormatDumpProgress(done, total), done, total);
  ShowPendingStatus();
}

void HostRescueCallbacks::ProgressFinished() {
  ShowPendingStatus();
  m_window.reset();
}

void HostRescueCallbacks::ShowRescueStatus(const RescueStatus& status) {
  {
    const std::lock_guard<std::mutex> lock(m_statusLock);
    m_pendingStatus = FormatRescueStatus(status);
  }
  if (std::this_thread::get_id() == m_windowThread) ShowPendingStatus();
}

bool HostRescueCallbacks::CancelRequested() {
  if (!m_window) return false;
  ShowPendingStatus();
  return m_window->CancelRequested();
}

void HostRescueCallbacks::ShowPendingStatus() {
  if (!m_window || std::this_thread::get_id() != m_windowThread) return;
  std::optional<std::string> text;
  {
    const std::lock_guard<std::mutex> lock(m_statusLock);
    text.swap(m_pendingStatus);
  }
  if (text) m_window->ShowRescueStatus(*text);
}

void RunRescueDump(Host& host, const CoreFactory& makeCore, const std::string& source, std::uint32_t sectorCount,
                   const std::string& imagePath, SectorRange range) {
  const std::string mapPath = MapNameReplacingExtension(imagePath);
  // "rescued.map" as the image would have its map be the image itself.
  if (FindOutputClash(SourceFiles(source, FindMapBesideImage(source)),
                      {imagePath, mapPath, RescueFiles::TemporaryMapPath(mapPath)})) {
    host.ShowMessage(msg::kOutputIsSource, MessageStyle::kOk);
    return;
  }
  RescueMap map;
  RescueFiles files;
  std::string error;
  switch (files.Open(imagePath, mapPath, sectorCount, map, error)) {
    case RescueOpenFailure::kNone:
      break;
    case RescueOpenFailure::kNotRawImage:
      host.ShowMessage(std::string(msg::kNotRawImage) + '\n' + error, MessageStyle::kOk);
      return;
    case RescueOpenFailure::kTemporaryInTheWay:
      host.ShowMessage(std::string(msg::kOutputInTheWay) + '\n' + error, MessageStyle::kOk);
      return;
    case RescueOpenFailure::kCannotOpen:
      host.ShowMessage(std::string(msg::kDumpFailed) + '\n' + error, MessageStyle::kOk);
      return;
  }
  bool complete = false;
  RescueStatistics stats;
  {
    const std::unique_ptr<CKestrowCore> core = makeCore(source);
    HostRescueCallbacks face(host, range);
    complete = core->RescueSectors(map, files, face, RescueSettings{});
    stats = core->GetRescueStatistics();
  }
  files.Close();
  // The progress window is gone by now.
  if (complete) {
    host.ShowMessage(msg::kCompleted, MessageStyle::kIconInformation);
  } else if (stats.refusal == RescueRefusal::kNotRawImage) {
    host.ShowMessage(std::string(msg::kNotRawImage) + '\n' + stats.failure, MessageStyle::kOk);
  } else if (stats.refusal == RescueRefusal::kOtherDisc) {
    host.ShowMessage(std::string(msg::kOtherDiscInDrive) + '\n' + stats.failure, MessageStyle::kOk);
  } else if (stats.discChanged) {
    host.ShowMessage(msg::kDiscChanged, MessageStyle::kOk);
  } else if (stats.rangeSectors == 0) {
    host.ShowMessage(msg::kDumpFailed, MessageStyle::kOk);
  } else if (stats.writeFailed) {
    host.ShowMessage(std::string(msg::kImageWriteFailed) + '\n' + stats.failure + "\n\n" + Shortfall(stats, mapPath),
                     MessageStyle::kOk);
  } else {
    host.ShowMessage(std::string(stats.cancelled ? msg::kStopped : msg::kDumpFailed) + "\n\n" +
                         Shortfall(stats, mapPath),
                     MessageStyle::kOk);
  }
}

}  // namespace kestrow::app
