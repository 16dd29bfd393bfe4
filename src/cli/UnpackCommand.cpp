// kestrow unpack: the disc's HFS volume as one plain image file, which HFS
// tools and Mac emulators open.
#include <chrono>
#include <ostream>

#include "Commands.h"
#include "Console.h"
#include "Interrupt.h"
#include "KestrowCore.h"
#include "ProgressLine.h"
#include "drive/SourceFiles.h"
#include "recovery/DamageReport.h"
#include "recovery/TemporaryOutputFile.h"
#include "recovery/VolumeUnpack.h"
#include "text/CodePage.h"
#include "text/Messages.h"

namespace kestrow::cli {
namespace {

// The volume's name for the terminal: Windows-1252 in UTF-8, control
// characters shown as '?'.
std::string ShownVolumeName(const std::string& name) {
  std::string text = DiscTextToUtf8(name, CodePage::kWindows1252);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') c = '?';
  }
  return text;
}

bool WriteReport(TemporaryOutputFile& file, const std::string& json, std::string& error) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(json.data());
  return file.Write(std::span<const std::uint8_t>(bytes, json.size()), error) && file.Commit(error);
}

}  // namespace

void Commands::FailUnpack(const CKestrowCore& core, const UnpackOutcome& outcome, const std::string& image) {
  const std::string nothing = "; nothing was written";
  switch (outcome.failed) {
    case UnpackFailure::kCannotOpen:
      Fail(msg::kNoValidDisc, "cannot open " + core.GetDevicePath());
      break;
    case UnpackFailure::kCannotWrite:
      Fail(msg::kImageWriteFailed, "writing " + image + " failed: " + outcome.failure + nothing);
      break;
    case UnpackFailure::kNotOurs:
    case UnpackFailure::kNoVolume:
      if (outcome.area.trailerLba < 0 && !outcome.failure.empty()) {
        Fail(msg::kNotBurnedByKestrow, outcome.failure);
      } else {
        FailVolumeLoad(core, outcome.area);
      }
      break;
    case UnpackFailure::kMetadataGone:
      Fail(msg::kMetadataGone, outcome.failure);
      break;
    case UnpackFailure::kUnreadableSector: {
      std::string where = "a sector of group " + std::to_string(outcome.failedGroup);
      if (outcome.failedLba >= 0) where = "LBA " + std::to_string(outcome.failedLba) + " of group " +
                                          std::to_string(outcome.failedGroup);
      Fail(msg::kDumpFailed, where + " (" + outcome.failure + ") could not be read: " + core.DescribeLastFailure() +
                                 nothing);
      m_err << kStoppedAtSectorHint << '\n';
      break;
    }
    case UnpackFailure::kDifferentDisc:
      Fail(msg::kDifferentDisc, outcome.failure);
      break;
    case UnpackFailure::kDiscChanged:
      Fail(msg::kDiscChanged, image + " was not written");
      break;
    case UnpackFailure::kStopped:
      Fail(msg::kStopped, image + " was not written");
      break;
    case UnpackFailure::kOutputInTheWay:
      Fail(msg::kOutputInTheWay, image + ": " + outcome.failure + nothing);
      break;
    case UnpackFailure::kUnknownFormat:
    case UnpackFailure::kNone:
      Fail(msg::kUnknownFormat, outcome.failure);
      break;
  }
}

int Commands::Unpack(const SourceOptions& source, const UnpackOptions& options) {
  const auto selected = SelectSource(source);
  if (!selected) return kExitFailed;
  if (!OutputsSpareTheSource(*selected, source, {{options.outputFile, "the image"}, {options.reportFile, "the report"}})) {
    return kExitUsage;
  }
  // The report's place is checked before the disc is read, as the image's is.
  TemporaryOutputFile report;
  std::string error;
  if (!options.reportFile.empty()) {
    switch (report.Begin(options.reportFile, IdentitiesOf(SourceFiles(selected->source, source.mapfile)), error)) {
      case TemporaryOutputFile::BeginResult::kReady:
        break;
      case TemporaryOutputFile::BeginResult::kInTheWay:
        Fail(msg::kOutputInTheWay, options.reportFile + ": " + error + "; nothing was written");
        return kExitUsage;
      case TemporaryOutputFile::BeginResult::kCannotCreate:
        Fail(msg::kFailedToOpenFile, "could not write the report " + options.reportFile + ": " + error);
        return kExitFailed;
    }
  }

  CKestrowCore core(selected->source, source.mapfile);
  UnpackSettings settings;
  settings.policy = ReadPolicy{options.retries, options.keepGoing};
  UnpackOutcome outcome;
  ProgressLine progress(m_err, StderrIsTerminal());
  const auto started = std::chrono::steady_clock::now();
  bool written = false;
  {
    InterruptGuard guard;
    core.SetInterruptFlag(&InterruptFlag());  // Ctrl-C stops before the next read
    written = core.WriteVolumeImage(options.outputFile, settings, outcome, [&](std::uint64_t done, std::uint64_t total) {
      progress.Update(ProgressFigures{done, total, true, core.GetReadStatistics().sectorsGivenUp, {}});
      return !InterruptRequested();
    });
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  progress.Clear();
  Note(core);
  if (outcome.failed == UnpackFailure::kOutputInTheWay) {
    FailUnpack(core, outcome, options.outputFile);
    return kExitUsage;
  }
  int code = kExitFailed;
  if (!written) {
    FailUnpack(core, outcome, options.outputFile);
  } else {
    m_out << "Wrote the volume \"" << ShownVolumeName(outcome.volume.name) << "\" (" << outcome.imageBytes
          << " bytes) to " << options.outputFile << '\n';
    if (outcome.bytesDifferingFromArea > 0) {
      m_err << "Volume area: " << outcome.bytesDifferingFromArea
            << " byte(s) differ from the packed copy; the image holds the packed copy's\n";
    }
    const DamageReport damage =
        ReportOfUnpack(outcome, [](const FileEntry& entry) { return ShownPath(entry, CodePage::kWindows1252); });
    if (options.keepGoing || !outcome.lostVolumeRanges.empty()) PrintDamage(m_err, damage);
    bool reportWritten = true;
    if (!options.reportFile.empty() && !WriteReport(report, FormatDamageReportJson(damage), error)) {
      reportWritten = false;
      Fail(msg::kFailedToOpenFile, "could not write the report " + options.reportFile + ": " + error);
    }
    code = outcome.Whole() && reportWritten ? kExitOk : kExitFailed;
  }
  const ReadStatistics reads = core.GetReadStatistics();
  m_out << FormatReadReport(reads, written ? outcome.imageBytes : 0, elapsed.count(),
                            SectorsIn(outcome.unreadableSectors))
        << '\n';
  return code;
}

}  // namespace kestrow::cli
