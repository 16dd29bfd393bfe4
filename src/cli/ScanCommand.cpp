// kestrow scan: which files the unreadable sectors of a disc hit, without
// writing anything.
#include <chrono>
#include <ostream>

#include "Commands.h"
#include "Console.h"
#include "KestrowCore.h"
#include "ProgressLine.h"
#include "recovery/DamageReport.h"
#include "recovery/DamageScan.h"
#include "text/Messages.h"

namespace kestrow::cli {

int Commands::Scan(const SourceOptions& source, const ScanOptions& options) {
  const auto selected = SelectSource(source);
  if (!selected) return kExitFailed;
  CKestrowCore core(selected->source, source.mapfile);
  DamageScan scan;
  ProgressLine progress(m_err, StderrIsTerminal());
  const auto started = std::chrono::steady_clock::now();
  bool scanned = false;
  try {
    scanned = core.ScanDamage(scan, ReadPolicy{options.retries, options.keepGoing}, [&](const ScanProgress& p) {
      progress.Update(ProgressFigures{p.sectorsDone, p.sectorsTotal, false, p.unreadable, {}});
      return true;
    });
  } catch (const std::exception& e) {
    progress.Clear();
    Fail(msg::kCatalogTooDamaged, msg::ExceptionReason(e));
    return kExitFailed;
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  progress.Clear();
  Note(core);
  if (!scanned && scan.failed == ScanFailure::kDiscChanged) {
    Fail(msg::kDiscChanged);
    return kExitFailed;
  }
  if (!scanned) {
    // What a search found is worth saying even when nothing can be listed.
    if (scan.salvage.metadataGone) {
      DamageReport report;
      report.unreadableSectors = scan.unreadableSectors;
      report.salvage = scan.salvage;
      if (options.json) {
        m_out << FormatDamageReportJson(report);
      } else {
        PrintDamage(m_out, report);
      }
      Fail(msg::kMetadataGone, scan.failure);
      return kExitFailed;
    }
    switch (scan.failed) {
      case ScanFailure::kCannotOpen:
        Fail(msg::kNotBurnedByKestrow);
        break;
      case ScanFailure::kNoVolume:
        FailVolumeLoad(core, scan.area, options.keepGoing);
        break;
      case ScanFailure::kNoCatalog:
        Fail(msg::kUnknownFormat, scan.failure);
        break;
      default:
        Fail(msg::kUnknownFormat, scan.failure);
        break;
    }
    return kExitFailed;
  }
  const CodePage codePage = options.macRoman ? CodePage::kMacRoman : CodePage::kWindows1252;
  const DamageReport report = ReportOfScan(scan, [codePage](const FileEntry& e) { return ShownPath(e, codePage); });
  if (options.json) {
    m_out << FormatDamageReportJson(report);
  } else {
    if (report.unreadableSectors.empty()) m_out << "No unreadable sector.\n";
    PrintDamage(m_out, report);
    m_out << scan.FilesHit() << " of " << scan.files.size() << " file(s) hit by unreadable sectors\n";
    const ReadStatistics reads = core.GetReadStatistics();
    m_out << FormatReadReport(reads, 0, elapsed.count(), SectorsIn(report.unreadableSectors)) << '\n';
  }
  // A lost catalogue node may have listed files that are now missing.
  return scan.FilesHit() == 0 && scan.lostCatalogNodes == 0 ? kExitOk : kExitFailed;
}

}  // namespace kestrow::cli
