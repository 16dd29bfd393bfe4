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
  for (const SectorSpan& s : report.unreadableSectors) {
    sectors += static_cast<std::uint64_t>(s.last - s.first) + 1;
    if (!spans.empty()) spans += ", ";
    spans += s.first == s.last ? std::to_string(s.first) : std::to_string(s.first) + "-" + std::to_string(s.last);
  }
  std::string summary = FillText(text::kUnreadableSectorsFormat, {std::to_string(sectors), spans});
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
