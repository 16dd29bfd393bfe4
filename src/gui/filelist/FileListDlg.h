// The file list dialog: every file of the volume with its path and size, the
// export of the list, and the recovery of the selected files, which runs as a
// job on the dialog's own core while a timer polls its status.
#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/CoreFactory.h"
#include "recovery/RecoveryJob.h"
#include "text/CodePage.h"
#include "volume/FileEntry.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeView;

namespace kestrow::gui {

class DamageScanRunner;
class FileListModel;

class CFileListDlg : public QDialog {
  Q_OBJECT

 public:
  // `fileTable` must outlive the dialog; `source` is the drive or image it
  // was read from, and `makeCore` gives the dialog's core for that source.
  CFileListDlg(const FileTable* fileTable, std::string source, const CoreFactory& makeCore,
               QWidget* parent = nullptr);
  // Stops a job that still runs and waits for its worker before the core goes.
  ~CFileListDlg() override;

  // The volume the table was read from: a job then makes sure the disc still
  // holds it before it writes anything.
  void SetListedVolume(ListedVolume volume) { m_listedVolume = std::move(volume); }

  // True while a recovery job copies files.
  bool IsJobRunning() const;
  // True while "Find Damage..." reads the disc.
  bool IsScanRunning() const { return m_scan != nullptr; }
  // The rows selected in the list, ascending.
  std::vector<int> SelectedRows() const;

  QTreeView* FileList() const { return m_listFiles; }
  const QTimer& JobTimer() const { return m_timer; }
  const QString& JobStatus() const { return m_strJobStatus; }
  const QString& FileCount() const { return m_strFileCount; }
  CKestrowCore& Core() const { return *m_pCore; }
  QCheckBox* MacRomanNames() const { return m_macRomanCheck; }
  QCheckBox* ResourceForksAndDates() const { return m_resourceForksCheck; }
  // The job options the checkboxes give.
  RecoveryOptions JobOptions() const;
  FileListModel* Model() const { return m_model; }
  QCheckBox* KeepGoingBox() const { return m_keepGoingBox; }
  QPushButton* FindDamageButton() const { return m_findDamageButton; }
  QProgressBar* ProgressBar() const { return m_progressBar; }

 public slots:
  void OnRecoverSelectedFiles();
  void OnTimer();
  void OnFindDamage();
  void OnSaveList();
  void OnOK();
  void accept() override;
  // Escape: stops a running job and waits for it, as the Close button does.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void OnInitDialog();
  void OnClose();
  // Moves the texts of the members into the controls.
  void UpdateData();
  // Before the dialog closes: a running job is stopped and the user told so.
  void StopJobBeforeClosing();
  void EndFailedJob();
  void ReportFilesNotWritten();
  void OnMacRomanToggled(bool on);
  void OnResourceForksToggled(bool on);
  // After a job that went on past damaged sectors: the damaged and lost files.
  void ShowDamageReport();
  void OnScanTimer();
  void ShowScanResult(const DamageScanRunner& runner);
  void ShowProgress(bool shown, int permille = 0);

  const FileTable* m_pFileTable;
  std::string m_strSource;
  CoreFactory m_makeCore;
  std::unique_ptr<CKestrowCore> m_pCore;
  QString m_strFileCount;
  QString m_strJobStatus;
  QTimer m_timer;
  CodePage m_jobCodePage = CodePage::kWindows1252;  // how the running job's status names are read
  std::optional<ListedVolume> m_listedVolume;
  std::vector<FileEntry> m_jobSelection;  // the running or last job's files
  bool m_jobKeptGoing = false;
  std::unique_ptr<DamageScanRunner> m_scan;
  QTimer m_scanTimer;

  FileListModel* m_model = nullptr;
  QLabel* m_fileCountText = nullptr;
  QTreeView* m_listFiles = nullptr;
  QLabel* m_jobStatusText = nullptr;
  QPushButton* m_recoverButton = nullptr;
  QPushButton* m_saveListButton = nullptr;
  QPushButton* m_closeButton = nullptr;
  QCheckBox* m_macRomanCheck = nullptr;
  QCheckBox* m_resourceForksCheck = nullptr;
  QCheckBox* m_keepGoingBox = nullptr;
  QPushButton* m_findDamageButton = nullptr;
  QProgressBar* m_progressBar = nullptr;
};

}  // namespace kestrow::gui
