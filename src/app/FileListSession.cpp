#include "FileListSession.h"

#include "OutputCheck.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <unordered_map>

#include "AppText.h"
#include "DamageScanRunner.h"
#include "DamageText.h"
#include "VolumeImageRunner.h"
#include "filelist/FileListExport.h"
#include "recovery/DamageReport.h"
#include "recovery/DamageScan.h"
#include "recovery/OutputFiles.h"
#include "text/Messages.h"

namespace kestrow::app {
namespace {

constexpr int kProgressRange = 1000;

bool JobFailed(RecoveryState state) {
  return state == RecoveryState::kFailedEarly || state == RecoveryState::kFailedAtFile ||
         state == RecoveryState::kDifferentDisc || state == RecoveryState::kAborted ||
         state == RecoveryState::kDiscChanged;
}

// Reads a row's path as the list shows it, in UTF-8: the path a report names.
DisplayPathFunction ShownPath(CodePage codePage) {
  return [codePage](const FileEntry& entry) { return DiscTextToUtf8(FileListPathText(entry), codePage); };
}

bool IsSeparator(char c) {
#if defined(_WIN32)
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

}  // namespace

std::string JobDestination(const std::string& folder) {
#if defined(_WIN32)
  constexpr char kSeparator = '\\';
#else
  constexpr char kSeparator = '/';
#endif
  if (!folder.empty() && IsSeparator(folder.back())) return folder;
  return folder + kSeparator;
}

FileListSession::FileListSession(const FileTable* table, std::string source, const CoreFactory& makeCore, Host& host)
    : m_table(table), m_source(std::move(source)), m_makeCore(makeCore), m_host(host) {
  char count[64];
  std::snprintf(count, sizeof count, msg::kFileCountFormat,
                static_cast<int>(std::min<std::size_t>(table->size(), INT_MAX)));
  m_fileCount = count;
  // The session's own core carries the recovery job; it opens nothing yet.
  m_core = makeCore(m_source);
  // The options as the user left them last time.
  m_macRoman = host.Settings().GetBool(text::kMacRomanSetting, false);
  m_resourceForks = host.Settings().GetBool(text::kResourceForksSetting, false);
}

FileListSession::~FileListSession() {
  m_scan.reset();   // stops a scan and waits for it
  m_image.reset();  // stops an image being written (nothing is left of it) and waits
  // The worker uses the core until it has ended; this returns at once when
  // no worker runs.
  if (m_core) m_core->RequestStop();
}

std::string FileListSession::PathText(std::size_t row) const {
  return DiscTextToUtf8(FileListPathText((*m_table)[row]), NameCodePage());
}

std::string FileListSession::SizeText(std::size_t row) const { return FileListSizeText((*m_table)[row]); }

std::string FileListSession::DamageText(std::size_t row) const {
  return row < m_damage.size() ? m_damage[row] : std::string();
}

void FileListSession::SetMacRomanNames(bool on) {
  m_host.Settings().SetBool(text::kMacRomanSetting, on);
  if (on == m_macRoman) return;
  m_macRoman = on;
  if (m_view) m_view->RowsChanged(false);
}

void FileListSession::SetResourceForksAndDates(bool on) {
  m_resourceForks = on;
  m_host.Settings().SetBool(text::kResourceForksSetting, on);
}

RecoveryOptions FileListSession::JobOptions() const {
  RecoveryOptions options;
  options.macRoman = m_macRoman;
  options.resourceForks = m_resourceForks;
  options.keepGoing = m_keepGoing;
  return options;
}

bool FileListSession::IsJobRunning() const {
  // A job that failed keeps its last status text but copies nothing more.
  return !m_core->GetStatus().empty() && m_core->GetRecoveryProgress().state == RecoveryState::kRunning;
}

void FileListSession::StartTimer() {
  m_timerActive = true;
  if (m_view) m_view->StartTimer();
}

void FileListSession::StopTimer() {
  m_timerActive = false;
  if (m_view) m_view->StopTimer();
}

void FileListSession::ShowStatus(std::string text) {
  m_jobStatus = std::move(text);
  if (m_view) m_view->ShowJobStatus(m_jobStatus);
}

void FileListSession::ShowProgress(bool shown, int permille) {
  if (m_view) m_view->ShowProgress(shown, std::clamp(permille, 0, kProgressRange));
}

bool FileListSession::RefuseWhileJobRuns() {
  if (m_timerActive && !m_scan && !m_image && !IsJobRunning()) OnJobTimer();
  if (!IsJobRunning()) return false;
  m_host.ShowMessage(msg::kStillSaving, MessageStyle::kOk);
  return true;
}

void FileListSession::OnRecoverSelectedFiles() {
  if (IsScanRunning() || IsImageRunning()) return;  // the buttons are disabled meanwhile
  if (RefuseWhileJobRuns()) return;
  const std::vector<int> rows = m_view ? m_view->SelectedRows() : std::vector<int>{};
  if (rows.empty()) {
    m_host.ShowMessage(msg::kSelectFiles, MessageStyle::kIconInformation);
    return;
  }
  const std::optional<std::string> folder = m_host.BrowseForFolder(msg::kSelectFolderTitle);
  if (!folder) return;
  // Row i of the list is entry i of the table; the job takes its own copies.
  std::vector<FileEntry> selection;
  selection.reserve(rows.size());
  for (const int row : rows) {
    if (row >= 0 && static_cast<std::size_t>(row) < m_table->size()) {
      selection.push_back((*m_table)[static_cast<std::size_t>(row)]);
    }
  }
  RecoveryOptions options = JobOptions();
  options.listedVolume = m_listedVolume;
  m_jobCodePage = NameCodePage();
  m_core->ForgetUnreadableSectors();  // a new job tries every sector again
  m_core->StartRecovery(selection, JobDestination(*folder), options);
  m_jobSelection = std::move(selection);
  m_jobKeptGoing = options.keepGoing;
  ShowProgress(true);
  StartTimer();
}

void FileListSession::OnTimer() {
  if (m_scan) {
    OnScanTimer();
  } else if (m_image) {
    OnImageTimer();
  } else if (m_timerActive) {
    OnJobTimer();
  }
}

void FileListSession::OnJobTimer() {
  const std::string status = m_core->GetStatus();
  if (!status.empty()) {
    const RecoveryProgress progress = m_core->GetRecoveryProgress();
    if (JobFailed(progress.state)) {
      EndFailedJob();
      return;
    }
    ShowStatus(DiscTextToUtf8(status, m_jobCodePage));
    ShowProgress(true, progress.bytesTotal == 0
                           ? 0
                           : static_cast<int>(progress.bytesDone * kProgressRange / progress.bytesTotal));
    return;
  }
  StopTimer();
  ShowStatus({});
  ShowProgress(false);
  m_host.ShowMessage(WithZeroSectorNote(msg::kDone, m_core->GetZeroSectors().size()), MessageStyle::kIconInformation);
  ReportFilesNotWritten();
  if (m_jobKeptGoing) ShowDamageReport();
}

void FileListSession::EndFailedJob() {
  StopTimer();
  // The worker has ended, or is about to; then the job may start again.
  m_core->WaitForRecovery();
  m_core->SetStatus({});
  ShowStatus({});
  ShowProgress(false);
  const RecoveryOutcome outcome = m_core->GetRecoveryOutcome();
  switch (outcome.state) {
    case RecoveryState::kDifferentDisc:
      m_host.ShowMessage(msg::kDifferentDisc, MessageStyle::kOk);
      break;
    case RecoveryState::kDiscChanged:
      m_host.ShowMessage(msg::kDiscChanged, MessageStyle::kOk);
      break;
    case RecoveryState::kAborted:
      m_host.ShowMessage(std::string(msg::kJobFailed) + '\n' + outcome.failure, MessageStyle::kOk);
      break;
    default: {
      std::string text = WithZeroSectorNote(msg::kDumpFailed, m_core->GetZeroSectors().size());
      if (outcome.state == RecoveryState::kFailedAtFile) text += std::string("\n\n") + text::kStoppedAtSectorAdvice;
      m_host.ShowMessage(text, MessageStyle::kOk);
      break;
    }
  }
}

void FileListSession::ReportFilesNotWritten() {
  const RecoveryOutcome outcome = m_core->GetRecoveryOutcome();
  std::string lines;
  if (!outcome.unwritten.empty()) {
    lines = FillText(text::kUnwrittenFilesFormat, {std::to_string(outcome.unwritten.size())});
  }
  if (!outcome.incomplete.empty()) {
    if (!lines.empty()) lines += '\n';
    lines += FillText(text::kIncompleteFilesFormat, {std::to_string(outcome.incomplete.size())});
  }
  if (!lines.empty()) m_host.ShowMessage(lines, MessageStyle::kOk);
}

void FileListSession::ShowDamageReport() {
  const DamageReport report = ReportOfRecovery(m_core->GetRecoveryOutcome(), m_jobSelection, ShownPath(m_jobCodePage));
  if (ReportsDamage(report)) m_host.ShowDamageReport(report, m_core->GetTransport().SourceFiles());
}

void FileListSession::OnFindDamage() {
  if (IsScanRunning() || IsImageRunning()) return;
  if (RefuseWhileJobRuns()) return;
  m_scan = std::make_unique<DamageScanRunner>(m_makeCore(m_source), ReadPolicy{0, m_keepGoing});
  if (m_view) m_view->EnableJobCommands(false);
  ShowStatus(msg::kReading);
  ShowProgress(true);
  StartTimer();
}

void FileListSession::OnScanTimer() {
  if (!m_scan->Finished()) {
    ShowProgress(true, m_scan->Permille());
    return;
  }
  StopTimer();
  const std::unique_ptr<DamageScanRunner> runner = std::move(m_scan);
  if (m_view) m_view->EnableJobCommands(true);
  ShowStatus({});
  ShowProgress(false);
  ShowScanResult(*runner);
}

void FileListSession::ShowScanResult(const DamageScanRunner& runner) {
  const DamageScan& scan = runner.Result();
  if (!runner.Succeeded()) {
    switch (scan.failed) {
      case ScanFailure::kCannotOpen:
        m_host.ShowMessage(msg::kNotBurnedByKestrow, MessageStyle::kOk);
        break;
      case ScanFailure::kNoVolume: {
        // A disc whose trailer was found is ours: a read failed.
        std::string text = scan.area.trailerLba >= 0 ? msg::kDumpFailed : msg::kNotBurnedByKestrow;
        const bool endUnreadable = scan.area.lastSectorUnreadable || scan.area.failedLba >= 0;
        if (endUnreadable && !m_keepGoing) text += std::string("\n\n") + text::kFindDamageEndAdvice;
        m_host.ShowMessage(text, MessageStyle::kOk);
        break;
      }
      case ScanFailure::kDiscChanged:
        m_host.ShowMessage(msg::kDiscChanged, MessageStyle::kOk);
        break;
      case ScanFailure::kStopped:
        if (!scan.failure.empty()) m_host.ShowMessage(scan.failure, MessageStyle::kOk);
        break;
      default:
        m_host.ShowMessage(msg::kUnknownFormat, MessageStyle::kOk);
        break;
    }
    return;
  }
  const bool sameVolume = !m_listedVolume || (m_listedVolume->name == scan.volume.name &&
                                               m_listedVolume->createDate == scan.volume.createDate);
  // Row i is marked with what the scan found of the same catalogue record.
  std::unordered_multimap<std::uint32_t, std::size_t> byId;
  for (std::size_t k = 0; k < scan.files.size(); ++k) byId.emplace(scan.files[k].fileId, k);
  std::vector<std::string> marks;
  marks.reserve(m_table->size());
  bool unmatched = false;
  for (const FileEntry& row : *m_table) {
    const auto [first, last] = byId.equal_range(row.fileId);
    const auto match = std::find_if(first, last, [&](const auto& item) { return scan.files[item.second] == row; });
    FileStatus status = FileStatus::kLost;  // its record lay in a catalogue node that could not be read
    if (match != last) {
      status = scan.results[match->second].status;
    } else {
      unmatched = true;
    }
    marks.push_back(status == FileStatus::kWhole ? std::string() : std::string(StatusName(status)));
  }
  if (!sameVolume || (unmatched && scan.lostCatalogNodes == 0)) {
    m_host.ShowMessage(msg::kDifferentDisc, MessageStyle::kOk);
    return;
  }
  m_damage = std::move(marks);
  const bool added = !m_hasDamageColumn;
  m_hasDamageColumn = true;
  if (m_view) m_view->RowsChanged(added);
  if (scan.unreadableSectors.empty() && scan.lostCatalogNodes == 0) {
    m_host.ShowMessage(text::kScanCleanText, MessageStyle::kIconInformation);
    return;
  }
  // One window with a table, however many files and sectors were hit.
  m_host.ShowDamageReport(ReportOfScan(scan, ShownPath(NameCodePage())), m_core->GetTransport().SourceFiles());
}

void FileListSession::OnSaveList() {
  const std::optional<std::string> path = m_host.ChooseSaveFile("FileList", "txt");
  if (!path || !OutputSparesTheSource(m_host, m_core->GetTransport().SourceFiles(), *path)) return;
  switch (WriteFileListExport(*m_table, *path)) {
    case ExportResult::kWritten:
      break;
    case ExportResult::kOpenFailed:
      m_host.ShowMessage(msg::kFailedToOpenFile, MessageStyle::kOk);
      break;
    case ExportResult::kWriteFailed:
      m_host.ShowMessage(msg::kExportWriteFailed, MessageStyle::kOk);
      break;
  }
}

std::string FileListSession::VolumeImageName() const {
  if (!m_listedVolume || m_listedVolume->name.empty()) return text::kVolumeImageName;
  return OutputName(m_listedVolume->name, NameCodePage());
}

void FileListSession::OnSaveVolumeImage() {
  if (IsScanRunning() || IsImageRunning()) return;  // the buttons are disabled meanwhile
  if (RefuseWhileJobRuns()) return;
  const std::optional<std::string> path = m_host.ChooseSaveFile(VolumeImageName(), text::kVolumeImageExtension);
  if (!path || !OutputSparesTheSource(m_host, m_core->GetTransport().SourceFiles(), *path)) return;
  UnpackSettings settings;
  settings.policy = ReadPolicy{0, m_keepGoing};
  settings.listedVolume = m_listedVolume;
  m_image = std::make_unique<VolumeImageRunner>(m_makeCore(m_source), *path, settings);
  if (m_view) m_view->EnableJobCommands(false);
  ShowStatus(msg::kReading);
  ShowProgress(true);
  StartTimer();
}

void FileListSession::OnImageTimer() {
  if (!m_image->Finished()) {
    ShowProgress(true, m_image->Permille());
    return;
  }
  StopTimer();
  const std::unique_ptr<VolumeImageRunner> runner = std::move(m_image);
  if (m_view) m_view->EnableJobCommands(true);
  ShowStatus({});
  ShowProgress(false);
  ShowImageResult(*runner);
}

void FileListSession::ShowImageResult(const VolumeImageRunner& runner) {
  const UnpackOutcome& outcome = runner.Result();
  const std::size_t zeros = runner.ZeroSectors();
  if (!runner.Written()) {
    const auto say = [&](std::string text, const std::string& detail = {}) {
      m_host.ShowMessage(detail.empty() ? text : text + '\n' + detail, MessageStyle::kOk);
    };
    switch (outcome.failed) {
      case UnpackFailure::kOutputInTheWay: say(msg::kOutputInTheWay, outcome.failure); break;
      case UnpackFailure::kCannotWrite: say(msg::kImageWriteFailed, outcome.failure); break;
      case UnpackFailure::kCannotOpen: say(msg::kNoValidDisc); break;
      case UnpackFailure::kNotOurs: say(msg::kNotBurnedByKestrow); break;
      case UnpackFailure::kNoVolume:
      case UnpackFailure::kUnreadableSector: say(WithZeroSectorNote(msg::kDumpFailed, zeros)); break;
      case UnpackFailure::kMetadataGone: say(msg::kMetadataGone); break;
      case UnpackFailure::kDifferentDisc: say(msg::kDifferentDisc); break;
      case UnpackFailure::kDiscChanged: say(msg::kDiscChanged); break;
      case UnpackFailure::kStopped:
        // Stopped by the user as the window closed: that was said then.
        if (!outcome.failure.empty()) say(msg::kCommandFailed, outcome.failure);
        break;
      case UnpackFailure::kUnknownFormat:
      case UnpackFailure::kNone: say(msg::kUnknownFormat); break;
    }
    return;
  }
  std::string done = WithZeroSectorNote(msg::kDone, zeros);
  if (outcome.bytesDifferingFromArea > 0) {
    done += '\n' + FillText(text::kAreaDiffersFormat, {std::to_string(outcome.bytesDifferingFromArea)});
  }
  m_host.ShowMessage(done, MessageStyle::kIconInformation);
  const DamageReport report = ReportOfUnpack(outcome, ShownPath(NameCodePage()));
  if (ReportsDamage(report)) m_host.ShowDamageReport(report, m_core->GetTransport().SourceFiles());
}

void FileListSession::StopBeforeClosing() {
  if (m_image && m_image->Finished()) OnImageTimer();  // an image in place is reported, not stopped
  if (m_image) {
    StopTimer();
    {
      BusyCursor busy(m_host);
      m_image.reset();  // asks it to stop after the group in hand and waits: nothing is written
    }
    if (m_view) m_view->EnableJobCommands(true);
    ShowStatus({});
    ShowProgress(false);
    m_host.ShowMessage(msg::kSavingTerminated, MessageStyle::kOk);
  }
  if (m_scan) {
    StopTimer();
    BusyCursor busy(m_host);
    m_scan.reset();  // asks the scan to stop after the sectors in hand and waits for it
    if (m_view) m_view->EnableJobCommands(true);
    ShowStatus({});
    ShowProgress(false);
  }
  if (!IsJobRunning()) return;
  StopTimer();
  {
    // Waits until the file in hand is saved and the worker has ended.
    BusyCursor busy(m_host);
    m_core->RequestStop();
  }
  m_host.ShowMessage(msg::kSavingTerminated, MessageStyle::kOk);
}

}  // namespace kestrow::app
