#include "filelist/FileListDlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTreeView>

#include <algorithm>
#include <climits>
#include <optional>
#include <unordered_map>

#include "app/BusyCursor.h"
#include "app/DialogUnits.h"
#include "app/GuiText.h"
#include "app/UiHost.h"
#include "filelist/DamageReportDlg.h"
#include "filelist/DamageScanRunner.h"
#include "filelist/FileListExport.h"
#include "filelist/FileListModel.h"
#include "recovery/FolderSelectDlg.h"
#include "recovery/DamageReport.h"
#include "recovery/RecoveryJob.h"
#include "text/CodePage.h"
#include "text/Messages.h"

namespace kestrow::gui {
namespace {

constexpr int kTimerMilliseconds = 200;

// The options are remembered between runs, in the user's settings.
bool StoredOption(const char* key) {
  QSettings settings(QStringLiteral("KestrowDiag"), QStringLiteral("KestrowDiag"));
  return settings.value(QString::fromLatin1(key), false).toBool();
}

void StoreOption(const char* key, bool on) {
  QSettings settings(QStringLiteral("KestrowDiag"), QStringLiteral("KestrowDiag"));
  settings.setValue(QString::fromLatin1(key), on);
}

bool JobFailed(RecoveryState state) {
  return state == RecoveryState::kFailedEarly || state == RecoveryState::kFailedAtFile ||
         state == RecoveryState::kDifferentDisc || state == RecoveryState::kAborted;
}

// Reads a row's path as the list shows it, in UTF-8: the path a report names.
DisplayPathFunction ShownPath(CodePage codePage) {
  return [codePage](const FileEntry& entry) { return DiscTextToUtf8(FileListPathText(entry), codePage); };
}

constexpr int kProgressRange = 1000;

// The destination of a job: the folder and one path separator.
std::string Destination(const QString& folder) {
  QString destination = folder;
  if (!destination.endsWith(QLatin1Char('/'))) destination += QLatin1Char('/');
  return QFile::encodeName(destination).toStdString();
}

}  // namespace

CFileListDlg::CFileListDlg(const FileTable* fileTable, std::string source, const CoreFactory& makeCore,
                           QWidget* parent)
    : QDialog(parent), m_pFileTable(fileTable), m_strSource(std::move(source)), m_makeCore(makeCore) {
  m_strFileCount = QString::asprintf(msg::kFileCountFormat,
                                     static_cast<int>(std::min<std::size_t>(fileTable->size(), INT_MAX)));
  // The dialog's own core carries the recovery job; it opens nothing yet.
  m_pCore = makeCore(m_strSource);
  m_timer.setInterval(kTimerMilliseconds);
  connect(&m_timer, &QTimer::timeout, this, &CFileListDlg::OnTimer);
  m_scanTimer.setInterval(kTimerMilliseconds);
  connect(&m_scanTimer, &QTimer::timeout, this, &CFileListDlg::OnScanTimer);

  setWindowTitle(QStringLiteral("File List"));
  SetCaptionButtons(*this, CaptionButtons::kClose);
  CreateControls();
  OnInitDialog();
}

CFileListDlg::~CFileListDlg() {
  m_timer.stop();
  m_scanTimer.stop();
  m_scan.reset();  // stops a scan and waits for it
  // The worker uses the core until it has ended; this returns at once when
  // no worker runs.
  if (m_pCore) m_pCore->RequestStop();
}

void CFileListDlg::CreateControls() {
  const DialogUnits du = SetUpDialogFrame(*this, 439, 253);

  m_listFiles = new QTreeView(this);
  m_listFiles->setGeometry(du.Rect(7, 19, 425, 186));
  m_fileCountText = new QLabel(this);
  m_fileCountText->setTextFormat(Qt::PlainText);
  m_fileCountText->setGeometry(du.Rect(7, 7, 425, 8));
  m_jobStatusText = new QLabel(this);
  m_jobStatusText->setTextFormat(Qt::PlainText);
  m_jobStatusText->setGeometry(du.Rect(7, 218, 194, 8));
  m_recoverButton = new QPushButton(QStringLiteral("Recover Selected Files..."), this);
  m_recoverButton->setGeometry(du.Rect(229, 216, 89, 14));
  m_recoverButton->setDefault(true);
  m_saveListButton = new QPushButton(QStringLiteral("Save List..."), this);
  m_saveListButton->setGeometry(du.Rect(325, 216, 52, 14));
  m_closeButton = new QPushButton(QStringLiteral("Close"), this);
  m_closeButton->setGeometry(du.Rect(382, 216, 50, 14));
  m_macRomanCheck = new QCheckBox(QString::fromLatin1(text::kMacRomanNames), this);
  m_macRomanCheck->setGeometry(du.Rect(7, 236, 78, 10));
  m_resourceForksCheck = new QCheckBox(QString::fromLatin1(text::kResourceForksAndDates), this);
  m_resourceForksCheck->setGeometry(du.Rect(87, 236, 103, 10));
  // The bottom row: options of a job and the damage scan. Its left part
  // holds the output options.
  m_keepGoingBox = new QCheckBox(QString::fromLatin1(text::kKeepGoingCheckBox), this);
  m_keepGoingBox->setGeometry(du.Rect(192, 236, 110, 10));
  m_findDamageButton = new QPushButton(QString::fromLatin1(text::kFindDamageButton), this);
  m_findDamageButton->setGeometry(du.Rect(367, 234, 65, 14));
  // Under the status text, as wide as it, while a job or a scan runs.
  m_progressBar = new QProgressBar(this);
  m_progressBar->setGeometry(du.Rect(7, 228, 194, 5));
  m_progressBar->setRange(0, kProgressRange);
  m_progressBar->setTextVisible(false);
  m_progressBar->hide();

  connect(m_recoverButton, &QPushButton::clicked, this, &CFileListDlg::OnRecoverSelectedFiles);
  connect(m_findDamageButton, &QPushButton::clicked, this, &CFileListDlg::OnFindDamage);
  connect(m_saveListButton, &QPushButton::clicked, this, &CFileListDlg::OnSaveList);
  connect(m_closeButton, &QPushButton::clicked, this, &CFileListDlg::OnOK);
}

void CFileListDlg::OnMacRomanToggled(bool on) {
  m_model->SetCodePage(on ? CodePage::kMacRoman : CodePage::kWindows1252);
  StoreOption(text::kMacRomanSetting, on);
}

void CFileListDlg::OnResourceForksToggled(bool on) { StoreOption(text::kResourceForksSetting, on); }

RecoveryOptions CFileListDlg::JobOptions() const {
  RecoveryOptions options;
  options.macRoman = m_macRomanCheck->isChecked();
  options.resourceForks = m_resourceForksCheck->isChecked();
  options.keepGoing = m_keepGoingBox->isChecked();
  return options;
}

void CFileListDlg::OnInitDialog() {
  UpdateData();
  m_model = new FileListModel(m_pFileTable, this);
  m_listFiles->setModel(m_model);
  m_listFiles->setRootIsDecorated(false);
  m_listFiles->setItemsExpandable(false);
  m_listFiles->setUniformRowHeights(true);
  m_listFiles->setSortingEnabled(false);
  m_listFiles->setAllColumnsShowFocus(true);
  // Several rows can be selected; a click anywhere in a row selects all of it.
  m_listFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_listFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_listFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
  QHeaderView* header = m_listFiles->header();
  header->setSectionsClickable(false);
  header->setSectionsMovable(false);
  header->setStretchLastSection(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // Together the columns are 25 pixels narrower than the list's client area.
  const int clientWidth = m_listFiles->contentsRect().width();
  header->resizeSection(FileListModel::kPathColumn, std::max(clientWidth - 125, 0));
  header->resizeSection(FileListModel::kSizeColumn, 100);
  // The options as the user left them last time.
  m_macRomanCheck->setChecked(StoredOption(text::kMacRomanSetting));
  m_resourceForksCheck->setChecked(StoredOption(text::kResourceForksSetting));
  m_model->SetCodePage(m_macRomanCheck->isChecked() ? CodePage::kMacRoman : CodePage::kWindows1252);
  connect(m_macRomanCheck, &QCheckBox::toggled, this, &CFileListDlg::OnMacRomanToggled);
  connect(m_resourceForksCheck, &QCheckBox::toggled, this, &CFileListDlg::OnResourceForksToggled);
  // The list is the first tab stop.
  m_listFiles->setFocus();
}

void CFileListDlg::UpdateData() {
  m_fileCountText->setText(m_strFileCount);
  m_jobStatusText->setText(m_strJobStatus);
}

std::vector<int> CFileListDlg::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : m_listFiles->selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

bool CFileListDlg::IsJobRunning() const {
  // A job that failed keeps its last status text but copies nothing more.
  return !m_pCore->GetStatus().empty() && m_pCore->GetRecoveryProgress().state == RecoveryState::kRunning;
}

void CFileListDlg::OnRecoverSelectedFiles() {
  if (IsScanRunning()) return;  // the buttons are disabled meanwhile
  // A job that ended since the last tick is reported before anything else.
  if (m_timer.isActive() && !IsJobRunning()) OnTimer();
  if (IsJobRunning()) {
    AppMessageBox(this, msg::kStillSaving, MessageStyle::kOk);
    return;
  }
  const std::vector<int> rows = SelectedRows();
  if (rows.empty()) {
    AppMessageBox(this, msg::kSelectFiles, MessageStyle::kIconInformation);
    return;
  }
  std::string destination;
  {
    CFolderSelectDlg folder(this, QString::fromLatin1(msg::kSelectFolderTitle));
    if (folder.BrowseForFolder(0) != 1) return;
    destination = Destination(folder.m_strPath);
  }
  // Row i of the list is entry i of the table; the job takes its own copies.
  std::vector<FileEntry> selection;
  selection.reserve(rows.size());
  for (const int row : rows) selection.push_back((*m_pFileTable)[static_cast<std::size_t>(row)]);
  RecoveryOptions options = JobOptions();
  options.listedVolume = m_listedVolume;
  m_jobCodePage = options.macRoman ? CodePage::kMacRoman : CodePage::kWindows1252;
  m_pCore->StartRecovery(selection, destination, options);
  m_jobSelection = std::move(selection);
  m_jobKeptGoing = options.keepGoing;
  ShowProgress(true);
  m_timer.start();
}

void CFileListDlg::ShowProgress(bool shown, int permille) {
  m_progressBar->setValue(std::clamp(permille, 0, kProgressRange));
  m_progressBar->setVisible(shown);
}

void CFileListDlg::OnTimer() {
  const std::string status = m_pCore->GetStatus();
  if (!status.empty()) {
    const RecoveryProgress progress = m_pCore->GetRecoveryProgress();
    if (JobFailed(progress.state)) {
      EndFailedJob();
      return;
    }
    m_strJobStatus = text::FromDiscBytes(status, m_jobCodePage);
    UpdateData();
    ShowProgress(true, progress.bytesTotal == 0
                           ? 0
                           : static_cast<int>(progress.bytesDone * kProgressRange / progress.bytesTotal));
    return;
  }
  m_timer.stop();
  m_strJobStatus.clear();
  UpdateData();
  ShowProgress(false);
  AppMessageBox(this, msg::kDone, MessageStyle::kIconInformation);
  ReportFilesNotWritten();
  if (m_jobKeptGoing) ShowDamageReport();
}

void CFileListDlg::EndFailedJob() {
  m_timer.stop();
  // The worker has ended, or is about to; then the job may start again.
  m_pCore->WaitForRecovery();
  m_pCore->SetStatus({});
  m_strJobStatus.clear();
  UpdateData();
  ShowProgress(false);
  const RecoveryOutcome outcome = m_pCore->GetRecoveryOutcome();
  switch (outcome.state) {
    case RecoveryState::kDifferentDisc:
      AppMessageBox(this, msg::kDifferentDisc, MessageStyle::kOk);
      break;
    case RecoveryState::kAborted:
      AppMessageBox(this, QString::fromLatin1(msg::kJobFailed) + QLatin1Char('\n') +
                              QString::fromStdString(outcome.failure), MessageStyle::kOk);
      break;
    default:
      AppMessageBox(this, msg::kDumpFailed, MessageStyle::kOk);
      break;
  }
}

void CFileListDlg::ShowDamageReport() {
  const RecoveryOutcome outcome = m_pCore->GetRecoveryOutcome();
  const DamageReport report = ReportOfRecovery(outcome, m_jobSelection, ShownPath(m_jobCodePage));
  const bool damage = !report.unreadableSectors.empty() || report.lostCatalogNodes > 0 ||
                      std::any_of(report.files.begin(), report.files.end(), [](const ReportedFile& f) {
                        return f.status == FileStatus::kDamaged || f.status == FileStatus::kLost;
                      });
  if (!damage) return;
  CDamageReportDlg dialog(report, this, m_pCore->GetTransport().SourceFiles());
  UiHost::Current().RunModal(dialog);
}

void CFileListDlg::OnFindDamage() {
  if (IsScanRunning()) return;
  if (m_timer.isActive() && !IsJobRunning()) OnTimer();
  if (IsJobRunning()) {
    AppMessageBox(this, msg::kStillSaving, MessageStyle::kOk);
    return;
  }
  m_scan = std::make_unique<DamageScanRunner>(m_makeCore(m_strSource), ReadPolicy{0, m_keepGoingBox->isChecked()});
  m_recoverButton->setEnabled(false);
  m_findDamageButton->setEnabled(false);
  m_strJobStatus = QString::fromLatin1(msg::kReading);
  UpdateData();
  ShowProgress(true);
  m_scanTimer.start();
}

void CFileListDlg::OnScanTimer() {
  if (!m_scan) {
    m_scanTimer.stop();
    return;
  }
  if (!m_scan->Finished()) {
    ShowProgress(true, m_scan->Permille());
    return;
  }
  m_scanTimer.stop();
  const std::unique_ptr<DamageScanRunner> runner = std::move(m_scan);
  m_recoverButton->setEnabled(true);
  m_findDamageButton->setEnabled(true);
  m_strJobStatus.clear();
  UpdateData();
  ShowProgress(false);
  ShowScanResult(*runner);
}

void CFileListDlg::ShowScanResult(const DamageScanRunner& runner) {
  const DamageScan& scan = runner.Result();
  if (!runner.Succeeded()) {
    switch (scan.failed) {
      case ScanFailure::kCannotOpen:
      case ScanFailure::kNoVolume:
        AppMessageBox(this, msg::kNotBurnedByKestrow, MessageStyle::kOk);
        break;
      case ScanFailure::kStopped:
        if (!scan.failure.empty()) AppMessageBox(this, QString::fromStdString(scan.failure), MessageStyle::kOk);
        break;
      default:
        AppMessageBox(this, msg::kUnknownFormat, MessageStyle::kOk);
        break;
    }
    return;
  }
  const bool sameVolume = !m_listedVolume || (m_listedVolume->name == scan.volume.name &&
                                               m_listedVolume->createDate == scan.volume.createDate);
  // Row i is marked with what the scan found of the same catalogue record.
  std::unordered_multimap<std::uint32_t, std::size_t> byId;
  for (std::size_t k = 0; k < scan.files.size(); ++k) byId.emplace(scan.files[k].fileId, k);
  std::vector<QString> marks;
  std::size_t damaged = 0;
  std::size_t lost = 0;
  bool unmatched = false;
  for (const FileEntry& row : *m_pFileTable) {
    const auto [first, last] = byId.equal_range(row.fileId);
    const auto match = std::find_if(first, last, [&](const auto& item) { return scan.files[item.second] == row; });
    FileStatus status = FileStatus::kLost;  // its record lay in a catalogue node that could not be read
    if (match != last) {
      status = scan.results[match->second].status;
    } else {
      unmatched = true;
    }
    if (status == FileStatus::kDamaged) ++damaged;
    if (status == FileStatus::kLost) ++lost;
    marks.push_back(status == FileStatus::kWhole ? QString() : QString::fromLatin1(StatusName(status)));
  }
  if (!sameVolume || (unmatched && scan.lostCatalogNodes == 0)) {
    AppMessageBox(this, msg::kDifferentDisc, MessageStyle::kOk);
    return;
  }
  // The new column's cells join the rows selected before.
  const std::vector<int> selected = SelectedRows();
  m_model->SetDamage(std::move(marks));
  QItemSelection selection;
  const int lastColumn = m_model->columnCount() - 1;
  for (std::size_t k = 0; k < selected.size();) {
    std::size_t end = k + 1;
    while (end < selected.size() && selected[end] == selected[end - 1] + 1) ++end;
    selection.select(m_model->index(selected[k], 0), m_model->index(selected[end - 1], lastColumn));
    k = end;
  }
  m_listFiles->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  QHeaderView* header = m_listFiles->header();
  const int clientWidth = m_listFiles->contentsRect().width();
  header->resizeSection(FileListModel::kPathColumn, std::max(clientWidth - 185, 0));
  header->resizeSection(FileListModel::kSizeColumn, 100);
  header->resizeSection(FileListModel::kDamageColumn, 60);
  if (scan.unreadableSectors.empty() && scan.lostCatalogNodes == 0) {
    AppMessageBox(this, text::kScanCleanText, MessageStyle::kIconInformation);
    return;
  }
  const DamageReport report = ReportOfScan(scan, ShownPath(m_macRomanCheck->isChecked() ? CodePage::kMacRoman : CodePage::kWindows1252));
  AppMessageBox(this, DamageSummary(report) + QLatin1Char('\n') +
                          QString::fromLatin1(text::kScanHitFormat).arg(damaged).arg(lost),
                MessageStyle::kOk);
}

void CFileListDlg::ReportFilesNotWritten() {
  const RecoveryOutcome outcome = m_pCore->GetRecoveryOutcome();
  QStringList lines;
  if (!outcome.unwritten.empty()) {
    lines << QString::fromLatin1(text::kUnwrittenFilesFormat).arg(outcome.unwritten.size());
  }
  if (!outcome.incomplete.empty()) {
    lines << QString::fromLatin1(text::kIncompleteFilesFormat).arg(outcome.incomplete.size());
  }
  if (!lines.isEmpty()) AppMessageBox(this, lines.join(QLatin1Char('\n')), MessageStyle::kOk);
}

void CFileListDlg::OnSaveList() {
  const std::optional<QString> path =
      UiHost::Current().GetSaveFileName(this, QStringLiteral("FileList"), QStringLiteral("txt"));
  if (!path) return;
  const std::string file = QFile::encodeName(*path).toStdString();
  if (!OutputSparesTheSource(this, m_pCore->GetTransport().SourceFiles(), file)) return;
  switch (WriteFileListExport(*m_pFileTable, file)) {
    case ExportResult::kWritten:
      break;
    case ExportResult::kOpenFailed:
      AppMessageBox(this, msg::kFailedToOpenFile, MessageStyle::kOk);
      break;
    case ExportResult::kWriteFailed:
      AppMessageBox(this, msg::kExportWriteFailed, MessageStyle::kOk);
      break;
  }
}

void CFileListDlg::StopJobBeforeClosing() {
  if (m_scan) {
    m_scanTimer.stop();
    BusyCursor busy;
    m_scan.reset();  // asks the scan to stop after the sectors in hand and waits for it
  }
  if (!IsJobRunning()) return;
  m_timer.stop();
  {
    // Waits until the file in hand is saved and the worker has ended.
    BusyCursor busy;
    m_pCore->RequestStop();
  }
  AppMessageBox(this, msg::kSavingTerminated, MessageStyle::kOk);
}

void CFileListDlg::OnOK() {
  StopJobBeforeClosing();
  QDialog::accept();
}

void CFileListDlg::accept() { OnOK(); }

void CFileListDlg::reject() {
  StopJobBeforeClosing();
  QDialog::reject();
}

void CFileListDlg::OnClose() { StopJobBeforeClosing(); }

void CFileListDlg::closeEvent(QCloseEvent* event) {
  OnClose();
  // Passes on to the dialog's own handling, which ends it.
  QDialog::closeEvent(event);
}

}  // namespace kestrow::gui
