// kestrow recover: copies files out of a Kestrow PRO disc through the same
// recovery job and worker as the desktop application.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <thread>

#include "Commands.h"
#include "Console.h"
#include "Interrupt.h"
#include "KestrowCore.h"
#include "ProgressLine.h"
#include "drive/SourceFiles.h"
#include "platform/FileSystem.h"
#include "recovery/DamageReport.h"
#include "recovery/OutputFiles.h"
#include "text/CodePage.h"
#include "text/Glob.h"
#include "text/Messages.h"

namespace kestrow::cli {
namespace {

std::string Shown(const FileEntry& entry, CodePage codePage) { return Commands::ShownPath(entry, codePage); }

// Text for the terminal: a control character from the disc (an escape
// sequence could rewrite the screen) is shown as '?'.
std::string Printable(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') c = '?';
  }
  return text;
}

std::string Printable(const FileEntry& entry, CodePage codePage) { return Printable(Shown(entry, codePage)); }

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream file(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  file.close();
  return !file.fail();
}

// The recovered file (data file or companion) that `report` would replace,
// or empty: the report is written after the job, over what it wrote there.
std::string RecoveredFileAt(const std::string& report, const std::string& destination,
                            const std::vector<FileEntry>& chosen, CodePage codePage) {
  const std::string reportKey = FullPathKey(report);
  std::string folderKey = FullPathKey(destination);
  if (folderKey.empty() || folderKey.back() != PathSeparator()) folderKey += PathSeparator();
  if (reportKey.compare(0, folderKey.size(), folderKey) != 0) return {};
  const std::string relative = reportKey.substr(folderKey.size());
  for (const FileEntry& entry : chosen) {
    const std::string data = OutputRelativePath(entry, codePage);
    const std::size_t nameAt = data.rfind(PathSeparator()) + 1;  // 0 when there is no folder
    for (const std::string& file : {data, data.substr(0, nameAt) + "._" + data.substr(nameAt)}) {
      if (FileNameKey(file) == relative) return file;
    }
  }
  return {};
}

bool Matches(const std::vector<std::string>& patterns, const std::string& displayPath) {
  for (const std::string& pattern : patterns) {
    if (GlobMatches(pattern, displayPath)) return true;
  }
  return false;
}

}  // namespace

int Commands::Recover(const SourceOptions& source, const RecoverOptions& options) {
  const auto selected = SelectSource(source);
  if (!selected) return kExitFailed;
  if (!OutputsSpareTheSource(*selected, source, {{options.reportFile, "the report"}})) return kExitUsage;
  const ReadPolicy policy{options.retries, options.keepGoing};
  LoadedVolume listed;
  const std::optional<FileTable> table = LoadFileTable(*selected, source, policy, &listed, options.deleted);
  if (!table) return kExitFailed;

  const CodePage codePage = options.macRoman ? CodePage::kMacRoman : CodePage::kWindows1252;
  // Rows in table order, as the file list dialog hands over its selection.
  std::vector<FileEntry> chosen;
  std::vector<std::size_t> rows;
  for (std::size_t i = 0; i < table->size(); ++i) {
    if (options.all || Matches(options.patterns, Shown((*table)[i], codePage))) {
      chosen.push_back((*table)[i]);
      rows.push_back(i);
    }
  }
  if (chosen.empty()) {
    Fail(msg::kSelectFiles, table->empty() ? "the disc holds no file" : "no file matches the pattern(s)");
    return kExitFailed;
  }

  // The report is written last: over a file the job wrote, it would replace it.
  if (!options.reportFile.empty()) {
    const std::string file = RecoveredFileAt(options.reportFile, options.destination, chosen, codePage);
    if (!file.empty()) {
      Fail(msg::kOutputIsSource,
           options.reportFile + ", the report, would also be the recovered file " + file + "; nothing was written");
      return kExitUsage;
    }
  }

  std::error_code ec;
  std::filesystem::create_directories(PathFromUtf8(options.destination), ec);
  std::string problem = ec ? ec.message() : std::string();
  const std::filesystem::path folder = std::filesystem::absolute(PathFromUtf8(options.destination), ec);
  if (problem.empty() && (ec || !std::filesystem::is_directory(folder))) problem = "not a folder";
  std::string destination = Utf8FromPath(folder);
  // A folder that cannot take files is refused before the disc is read.
  if (problem.empty()) CanCreateFilesIn(destination, problem);
  if (!problem.empty()) {
    Fail("Error: the destination folder cannot be used.", options.destination + ": " + problem);
    return kExitFailed;
  }
  if (destination.empty() || destination.back() != PathSeparator()) destination += PathSeparator();

  RecoveryOptions job;
  job.keepGoing = options.keepGoing;
  job.retries = options.retries;
  job.listedVolume = listed.volume;
  job.resourceForks = options.resourceForks;
  job.macRoman = options.macRoman;
  CKestrowCore core(selected->source, source.mapfile);
  const auto started = std::chrono::steady_clock::now();
  ProgressLine progress(m_err, StderrIsTerminal());
  {
    InterruptGuard guard;
    bool stopAsked = false;
    core.StartRecovery(chosen, destination, job);
    for (;;) {
      if (InterruptRequested() && !stopAsked) {
        stopAsked = true;
        progress.Clear();
        m_err << "kestrow: stopping; the file being read is not written...\n";
        core.RequestStop();
      }
      const RecoveryProgress now = core.GetRecoveryProgress();
      if (now.state != RecoveryState::kRunning) break;
      const std::size_t k = std::min(now.currentFile, chosen.size() - 1);
      progress.Update(ProgressFigures{now.bytesDone, now.bytesTotal, true,
                                      core.GetReadStatistics().sectorsGivenUp, Printable(chosen[k], codePage)});
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    core.WaitForRecovery();
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  progress.Clear();
  RecoveryOutcome outcome = core.GetRecoveryOutcome();
  Note(core);
  outcome.lostCatalogNodes = std::max(outcome.lostCatalogNodes, listed.lostCatalogNodes);
  const int code = ReportRecovery(outcome, chosen, destination, options);
  const ReadStatistics reads = core.GetReadStatistics();
  // The unreadable sectors counted are those the report lists.
  m_out << FormatReadReport(reads, outcome.bytesWritten, elapsed.count(), SectorsIn(outcome.unreadableSectors))
        << '\n';
  return code;
}

std::string RecoveredLine(const RecoveryOutcome& outcome, std::size_t chosen, const std::string& destination) {
  const std::string recovered =
      "Recovered " + std::to_string(outcome.written) + " of " + std::to_string(chosen) + " file(s)";
  std::size_t whole = 0;
  std::size_t damaged = 0;
  std::size_t lost = 0;
  for (const FileResult& file : outcome.files) {
    whole += file.status == FileStatus::kWhole;
    damaged += file.status == FileStatus::kDamaged;
    lost += file.status == FileStatus::kLost;
  }
  if (whole == chosen) {
    return recovered + " (" + std::to_string(outcome.bytesWritten) + " bytes) into " + destination;
  }
  // Every file the job did not reach, or could not write, is not written.
  const std::size_t notWritten = chosen - std::min(chosen, whole + damaged + lost);
  return recovered + ": " + std::to_string(whole) + " whole, " + std::to_string(damaged) + " damaged, " +
         std::to_string(lost) + " lost, " + std::to_string(notWritten) + " not written";
}

void Commands::PrintDamage(std::ostream& out, const DamageReport& report) {
  out << SalvageFactsText(report.salvage, m_verbose);
  for (const ReportedFile& file : report.files) {
    if (file.status == FileStatus::kDamaged) {
      out << "Damaged: " << Printable(file.path);
      if (!file.lostRanges.empty()) {
        out << " (lost bytes " << LostRangesText(file.lostRanges) << " of " << file.size << ")";
      }
      if (!file.rsrcLostRanges.empty()) {
        out << " (lost resource fork bytes " << LostRangesText(file.rsrcLostRanges) << ")";
      }
      out << '\n';
    } else if (file.status == FileStatus::kLost) {
      out << "Lost: " << Printable(file.path);
      if (!file.reason.empty()) out << " (" << file.reason << ')';
      out << '\n';
    }
  }
  if (!report.unreadableSectors.empty()) {
    out << "Unreadable sectors:";
    for (std::size_t i = 0; i < report.unreadableSectors.size(); ++i) {
      const SectorSpan& s = report.unreadableSectors[i];
      out << (i == 0 ? " " : ", ") << s.first;
      if (s.last != s.first) out << '-' << s.last;
    }
    out << '\n';
  }
  if (report.lostCatalogNodes > 0) {
    out << "Catalogue nodes lost: " << report.lostCatalogNodes
        << " (the files they listed cannot be found)\n";
  }
  if (report.volumeImage && !report.volumeImage->lostRanges.empty()) {
    out << "Lost volume bytes (zeros in the image): " << LostRangesText(report.volumeImage->lostRanges) << '\n';
    std::string structures;
    for (const std::string& name : report.volumeImage->structuresHit) structures += (structures.empty() ? "" : ", ") + name;
    if (!structures.empty()) out << "Volume structures hit: " << structures << '\n';
  }
}

int Commands::ReportRecovery(const RecoveryOutcome& outcome, const std::vector<FileEntry>& chosen,
                             const std::string& destination, const RecoverOptions& options) {
  const CodePage codePage = options.macRoman ? CodePage::kMacRoman : CodePage::kWindows1252;
  m_out << RecoveredLine(outcome, chosen.size(), destination) << '\n';
  for (std::size_t k = 0; k < outcome.unwritten.size(); ++k) {
    m_err << "Not written: " << Printable(chosen[outcome.unwritten[k]], codePage);
    if (k < outcome.unwrittenReasons.size() && !outcome.unwrittenReasons[k].empty()) {
      m_err << " (" << outcome.unwrittenReasons[k] << ')';
    }
    m_err << '\n';
  }
  for (std::size_t i : outcome.incomplete) {
    m_err << "Incomplete (some bytes are missing on the disc): " << Printable(chosen[i], codePage) << '\n';
  }
  const DamageReport report =
      ReportOfRecovery(outcome, chosen, [codePage](const FileEntry& e) { return ShownPath(e, codePage); });
  if (options.keepGoing) PrintDamage(m_err, report);
  bool reportWritten = true;
  if (!options.reportFile.empty() && !WriteText(options.reportFile, FormatDamageReportJson(report))) {
    reportWritten = false;
  }
  switch (outcome.state) {
    case RecoveryState::kStopped:
      m_err << msg::kSavingTerminated << '\n';
      break;
    case RecoveryState::kFailedEarly:
      Fail(msg::kDumpFailed, outcome.failure.empty() ? "the volume area or its packed-data table could not be read"
                                                     : outcome.failure);
      break;
    case RecoveryState::kFailedAtFile:
      Fail(msg::kDumpFailed, "a sector holding " + Printable(chosen[outcome.failedFile], codePage) +
                                 " could not be read; nothing of it or of the files after it was written");
      m_err << kStoppedAtSectorHint << '\n';
      break;
    case RecoveryState::kAborted:
      Fail(msg::kJobFailed, outcome.failure);
      break;
    case RecoveryState::kDifferentDisc:
      Fail(msg::kDifferentDisc, outcome.failure);
      break;
    case RecoveryState::kDiscChanged:
      Fail(msg::kDiscChanged, outcome.failedFile < chosen.size() && outcome.files.size() > outcome.failedFile &&
                                      outcome.files[outcome.failedFile].status == FileStatus::kNotWritten
                                  ? "not written: " + Printable(chosen[outcome.failedFile], codePage)
                                  : std::string());
      break;
    default:
      break;
  }
  if (!reportWritten) Fail(msg::kFailedToOpenFile, "could not write the report " + options.reportFile);
  // Files listed by a catalogue node that could not be read were not rescued.
  return outcome.Clean() && outcome.lostCatalogNodes == 0 && reportWritten ? kExitOk : kExitFailed;
}

}  // namespace kestrow::cli
