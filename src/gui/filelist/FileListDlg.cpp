#include "filelist/FileListDlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTreeView>

#include <algorithm>
#include <climits>
#include <optional>

#include "app/BusyCursor.h"
#include "app/DialogUnits.h"
#include "app/GuiText.h"
#include "app/UiHost.h"
#include "filelist/FileListExport.h"
#include "filelist/FileListModel.h"
#include "recovery/FolderSelectDlg.h"
#include "recovery/RecoveryJob.h"
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
  return state == RecoveryState::kFailedEarly || state == RecoveryState::kFailedAtFile;
}

// The destination of a job: the folder and one path separator.
std::string Destination(const QString& folder) {
  QString destination = folder;
  if (!destination.endsWith(QLatin1Char('/'))) destination += QLatin1Char('/');
  return QFile::encodeName(destination).toStdString();
}

}  // namespace

CFileListDlg::CFileListDlg(const FileTable* fileTable, std::string source, const CoreFactory& makeCore,
                           QWidget* parent)
    : QDialog(parent), m_pFileTable(fileTable), m_strSource(std::move(source)) {
  m_strFileCount = QString::asprintf(msg::kFileCountFormat,
                                     static_cast<int>(std::min<std::size_t>(fileTable->size(), INT_MAX)));
  // The dialog's own core carries the recovery job; it opens nothing yet.
  m_pCore = makeCore(m_strSource);
  m_timer.setInterval(kTimerMilliseconds);
  connect(&m_timer, &QTimer::timeout, this, &CFileListDlg::OnTimer);

  setWindowTitle(QStringLiteral("File List"));
  SetCaptionButtons(*this, CaptionButtons::kClose);
  CreateControls();
  OnInitDialog();
}

CFileListDlg::~CFileListDlg() {
  m_timer.stop();
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
  m_macRomanCheck->setGeometry(du.Rect(7, 236, 70, 10));
  m_resourceForksCheck = new QCheckBox(QString::fromLatin1(text::kResourceForksAndDates), this);
  m_resourceForksCheck->setGeometry(du.Rect(82, 236, 100, 10));

  connect(m_recoverButton, &QPushButton::clicked, this, &CFileListDlg::OnRecoverSelectedFiles);
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
  return !m_pCore->GetStatus().empty() && m_pCore->GetRecoveryOutcome().state == RecoveryState::kRunning;
}

void CFileListDlg::OnRecoverSelectedFiles() {
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
  const RecoveryOptions options = JobOptions();
  m_jobCodePage = options.macRoman ? CodePage::kMacRoman : CodePage::kWindows1252;
  m_pCore->StartRecovery(selection, destination, options);
  m_timer.start();
}

void CFileListDlg::OnTimer() {
  const std::string status = m_pCore->GetStatus();
  if (!status.empty()) {
    if (JobFailed(m_pCore->GetRecoveryOutcome().state)) {
      EndFailedJob();
      return;
    }
    m_strJobStatus = text::FromDiscBytes(status, m_jobCodePage);
    UpdateData();
    return;
  }
  m_timer.stop();
  m_strJobStatus.clear();
  UpdateData();
  AppMessageBox(this, msg::kDone, MessageStyle::kIconInformation);
  ReportFilesNotWritten();
}

void CFileListDlg::EndFailedJob() {
  m_timer.stop();
  // The worker has ended, or is about to; then the job may start again.
  m_pCore->WaitForRecovery();
  m_pCore->SetStatus({});
  m_strJobStatus.clear();
  UpdateData();
  AppMessageBox(this, msg::kDumpFailed, MessageStyle::kOk);
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
  switch (WriteFileListExport(*m_pFileTable, QFile::encodeName(*path).toStdString())) {
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
