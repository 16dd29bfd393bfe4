// The damage of a salvage, a scan or a volume image in words: the summary line, the rows of
// the report window, and "Save Report..." (the same JSON report as the
// command-line tool's --report).
#pragma once

#include <string>
#include <vector>

#include "Host.h"
#include "recovery/DamageReport.h"

namespace kestrow::app {

// The runs of unreadable sectors the summary names before it counts the rest.
inline constexpr std::size_t kSummarySpans = 12;

// "3 unreadable sector(s): 1200-1202." (at most kSummarySpans runs, then how
// many more), how many files are damaged and lost, and, when catalogue nodes
// were lost, how many.
std::string DamageSummary(const DamageReport& report);

// True when the report names an unreadable sector, a lost node, or a file
// that is damaged or lost.
bool ReportsDamage(const DamageReport& report);

// A row of the report window: every file that is not whole, and a volume
// image's own structures (the catalogue file, ...) that lost bytes.
struct DamageRow {
  std::string path;
  std::string status;     // "damaged", "lost", "not-written"
  std::string lostBytes;  // its lost ranges, then why, when known
};
std::vector<DamageRow> DamageRows(const DamageReport& report);

// Asks for a file name (DamageReport.json) and writes the report there,
// unless it is one of `sourceFiles`; a file that cannot be written is
// reported.
void SaveDamageReport(Host& host, const DamageReport& report, const std::vector<std::string>& sourceFiles);

}  // namespace kestrow::app
