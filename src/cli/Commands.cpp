#include "Commands.h"

#include <cstdio>
#include <ostream>

#include "KestrowCore.h"
#include "drive/MapBeside.h"
#include "drive/SourceFactory.h"
#include "drive/SourceFiles.h"
#include "filelist/FileListExport.h"
#include "rawtools/VolumeSize.h"
#include "text/CodePage.h"
#include "text/Messages.h"

namespace kestrow::cli {

std::string FormatBytes(double bytes) {
  char text[48];
  if (bytes < 1e3) {
    std::snprintf(text, sizeof text, "%.0f bytes", bytes);
  } else if (bytes < 1e6) {
    std::snprintf(text, sizeof text, "%.1f kB", bytes / 1e3);
  } else if (bytes < 1e9) {
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
  } else {
    std::snprintf(text, sizeof text, "%.2f GB", bytes / 1e9);
  }
  return text;
}

std::string FormatReadReport(const ReadStatistics& stats, std::uint64_t bytesWritten, double seconds,
                             std::uint64_t unreadable) {
  const double bytes = static_cast<double>(bytesWritten);
  char text[224];
  std::snprintf(text, sizeof text,
                "read %llu sectors in %llu READ CD commands, wrote %s in %.2f s (%s/s), %llu repaired, %llu unreadable",
                static_cast<unsigned long long>(stats.sectorsRead),
                static_cast<unsigned long long>(stats.readCdCommands), FormatBytes(bytes).c_str(), seconds,
                FormatBytes(seconds > 0 ? bytes / seconds : 0.0).c_str(),
                static_cast<unsigned long long>(stats.repairedSectors), static_cast<unsigned long long>(unreadable));
  std::string report = text;
  // Sectors written without an EDC could not be checked; the user should know.
  if (stats.zeroEdcSectors > 0) report += ", " + std::to_string(stats.zeroEdcSectors) + " without EDC";
  return report;
}

std::uint64_t SectorsIn(const std::vector<SectorSpan>& spans) {
  std::uint64_t sectors = 0;
  for (const SectorSpan& span : spans) sectors += static_cast<std::uint64_t>(std::int64_t{span.last} - span.first + 1);
  return sectors;
}

void UseMapBesideImage(SourceOptions& source, std::ostream& err) {
  if (source.noMapfile || !source.mapfile.empty()) return;
  source.mapfile = FindMapBesideImage(source.source);
  if (!source.mapfile.empty()) err << "kestrow: reading " << source.source << " through " << source.mapfile << '\n';
}

void Commands::Note(const CKestrowCore& core) {
  const std::set<std::int32_t> zeros = core.GetZeroSectors();
  m_zeroSectors.insert(zeros.begin(), zeros.end());
}

void Commands::ReportZeroSectors() {
  if (m_zeroSectors.empty()) return;
  char text[96];
  const auto count = static_cast<unsigned long long>(m_zeroSectors.size());
  std::snprintf(text, sizeof text, msg::kZeroSectorsFormat, count, count == 1 ? "sector holds" : "sectors hold");
  m_err << "kestrow: " << text << "; if this is a rescue image, give its mapfile with --mapfile\n";
}

void Commands::FailVolumeLoad(const CKestrowCore& core, const VolumeAreaRead& area, bool keepGoing) {
  if (core.DiscChanged()) {
    Fail(msg::kDiscChanged);
    return;
  }
  if (area.trailerLba >= 0) {
    // The disc is ours; a sector of its volume area could not be read (or
    // lies past the disc's end).
    std::string why = DescribeVolumeAreaFailure(area);
    if (area.failedLba >= 0) why += ": " + core.DescribeLastFailure();
    Fail(msg::kDumpFailed, why);
  } else {
    Fail(msg::kNotBurnedByKestrow, area.lastSectorUnreadable ? DescribeVolumeAreaFailure(area) : std::string());
  }
  const bool endUnreadable = area.lastSectorUnreadable || area.failedLba >= 0;
  if (endUnreadable && !keepGoing) m_err << kLastSectorsHint << '\n';
}

void Commands::Fail(const std::string& message, const std::string& detail) {
  m_err << message << '\n';
  if (!detail.empty()) m_err << "kestrow: " << detail << '\n';
}

std::optional<Commands::Selected> Commands::SelectSource(const SourceOptions& options) {
  std::string source = options.source;
  if (source.empty()) {
    const auto drives = ListOpticalDrives();
    if (drives.empty()) {
      Fail(msg::kNoDrive);
      return std::nullopt;
    }
    source = drives.front();
  }
  CKestrowCore core(source, options.mapfile);
  const std::int32_t count = core.GetSectorCount();
  if (count < 2) {
    std::string detail;
    if (core.GetErrorState() == kErrorCannotOpen) {
      detail = "cannot open " + source;
      if (const std::string why = core.GetOpenFailureDetail(); !why.empty()) detail += ": " + why;
    } else if (count == 1) {
      detail = source + " has only one sector";
    } else {
      detail = source + " did not report its capacity";
      if (const std::string why = core.DescribeLastFailure(); !why.empty()) detail += ": " + why;
    }
    Fail(msg::kNoValidDisc, detail);
    return std::nullopt;
  }
  return Selected{source, count};
}

bool Commands::OutputsSpareTheSource(const Selected& selected, const SourceOptions& options,
                                     const std::vector<PlannedOutput>& outputs) {
  const std::vector<std::string> sourceFiles = SourceFiles(selected.source, options.mapfile);
  std::vector<std::string> paths;
  for (const PlannedOutput& output : outputs) paths.push_back(output.path);
  const std::optional<OutputClash> clash = FindOutputClash(sourceFiles, paths);
  if (!clash) return true;
  const PlannedOutput& output = outputs[clash->output];
  std::string other;
  if (!clash->withInput) {
    other = std::string(outputs[clash->other].role) + " (" + outputs[clash->other].path + ")";
  } else {
    const std::string& named = sourceFiles[clash->other];
    const char* role = "the data file of the source's cue sheet";
    if (IsSameFile(named, selected.source)) role = "the source";
    if (!options.mapfile.empty() && IsSameFile(named, options.mapfile)) role = "the source's mapfile";
    other = std::string(role) + " (" + named + ")";
  }
  Fail(msg::kOutputIsSource,
       output.path + ", " + output.role + ", would also be " + other + "; nothing was written");
  return false;
}

int Commands::Drives() {
  for (const std::string& drive : ListOpticalDrives()) m_out << drive << '\n';
  return kExitOk;
}

int Commands::Check(const SourceOptions& options) {
  const auto selected = SelectSource(options);
  if (!selected) return kExitFailed;
  CKestrowCore core(selected->source, options.mapfile);
  TrailerSearch search;
  const bool signedDisc = core.CheckBurnSignature(&search);
  Note(core);
  if (signedDisc) {
    m_out << msg::kBurnedByKestrow << '\n';
    return kExitOk;
  }
  if (core.DiscChanged()) {
    Fail(msg::kDiscChanged);
    return kExitFailed;
  }
  // A last sector that could not be read is named: the answer may be wrong.
  VolumeAreaRead area;
  area.sectorCount = selected->sectorCount;
  area.lastSectorUnreadable = search.lastSectorUnreadable;
  Fail(msg::kNotBurnedByKestrow, search.lastSectorUnreadable ? DescribeVolumeAreaFailure(area) : std::string());
  if (search.lastSectorUnreadable) m_err << kLastSectorsHint << '\n';
  return kExitFailed;
}

int Commands::Size(const SourceOptions& options) {
  const auto selected = SelectSource(options);
  if (!selected) return kExitFailed;
  m_out << FormatVolumeSize(selected->sectorCount);
  return kExitOk;
}

}  // namespace kestrow::cli
