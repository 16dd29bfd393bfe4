#include "DamageText.h"

#include "OutputCheck.h"

#include <algorithm>
#include <cstdio>

#include "AppText.h"
#include "platform/FileSystem.h"
#include "text/Messages.h"

namespace kestrow::app {

std::string DamageSummary(const DamageReport& report) {
  std::uint64_t sectors = 0;
  std::string spans;
  std::size_t shown = 0;
  for (const SectorSpan& s : report.unreadableSectors) {
    sectors += static_cast<std::uint64_t>(s.last - s.first) + 1;
    if (shown == kSummarySpans) continue;
    if (!spans.empty()) spans += ", ";
    spans += s.first == s.last ? std::to_string(s.first) : std::to_string(s.first) + "-" + std::to_string(s.last);
    ++shown;
  }
  // A disc with thousands of scattered bad sectors keeps the summary short;
  // the saved report lists them all.
  if (shown < report.unreadableSectors.size()) {
    spans += ' ' + FillText(text::kMoreSpansFormat, {std::to_string(report.unreadableSectors.size() - shown)});
  }
  std::string summary = FillText(text::kUnreadableSectorsFormat, {std::to_string(sectors), spans});
  const auto count = [&report](FileStatus status) {
    return std::count_if(report.files.begin(), report.files.end(),
                         [status](const ReportedFile& f) { return f.status == status; });
  };
  const auto damaged = count(FileStatus::kDamaged);
  const auto lost = count(FileStatus::kLost);
  if (damaged > 0 || lost > 0) {
    summary += ' ' + FillText(text::kScanHitFormat, {std::to_string(damaged), std::to_string(lost)});
  }
  if (report.lostCatalogNodes > 0) {
    summary += ' ' + FillText(text::kLostNodesFormat, {std::to_string(report.lostCatalogNodes)});
  }
  if (report.volumeImage && !report.volumeImage->lostRanges.empty()) {
    summary += ' ' + FillText(text::kLostVolumeBytesFormat, {LostRangesText(report.volumeImage->lostRanges)});
  }
  return summary;
}

bool ReportsDamage(const DamageReport& report) {
  return !report.unreadableSectors.empty() || report.lostCatalogNodes > 0 ||
         (report.volumeImage && !report.volumeImage->lostRanges.empty()) ||
         std::any_of(report.files.begin(), report.files.end(), [](const ReportedFile& f) {
           return f.status == FileStatus::kDamaged || f.status == FileStatus::kLost;
         });
}

std::vector<DamageRow> DamageRows(const DamageReport& report) {
  std::vector<DamageRow> rows;
  for (const ReportedFile& file : report.files) {
    if (file.status == FileStatus::kWhole) continue;
    std::string lost = LostRangesText(file.lostRanges);
    if (!file.reason.empty()) lost += (lost.empty() ? "" : "; ") + file.reason;
    rows.push_back({file.path, StatusName(file.status), lost});
  }
  // A volume image's own structures that lost bytes: the catalogue file, ...
  if (report.volumeImage) {
    for (const std::string& structure : report.volumeImage->structuresHit) rows.push_back({structure, "damaged", {}});
  }
  return rows;
}

void SaveDamageReport(Host& host, const DamageReport& report, const std::vector<std::string>& sourceFiles) {
  const std::optional<std::string> path = host.ChooseSaveFile("DamageReport", "json");
  if (!path || !OutputSparesTheSource(host, sourceFiles, *path)) return;
  const std::string json = FormatDamageReportJson(report);
  std::FILE* file = OpenFile(*path, "wb");
  bool written = file != nullptr;
  if (file) {
    written = std::fwrite(json.data(), 1, json.size(), file) == json.size();
    written = std::fclose(file) == 0 && written;
  }
  if (!written) host.ShowMessage(msg::kFailedToOpenFile, MessageStyle::kOk);
}

}  // namespace kestrow::app
