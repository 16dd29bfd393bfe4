// The file list dialog: every file of the volume with its path and size, the
// options, and the buttons of the file list session (recover the selected
// files, find damage, save the list, save the volume image). The session does the work; a timer
// polls it while a job or a scan runs.
#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>

#include <string>
#include <vector>

#include "app/FileListSession.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeView;

namespace kestrow::gui {

class FileListModel;

class CFileListDlg : public QDialog, public app::FileListView {
  Q_OBJECT

 public:
  // `session` must outlive the dialog.
  explicit CFileListDlg(app::FileListSession& session, QWidget* parent = nullptr);
  ~CFileListDlg() override;

  app::FileListSession& Session() const { return m_session; }
  bool IsJobRunning() const { return m_session.IsJobRunning(); }
  bool IsScanRunning() const { return m_session.IsScanRunning(); }

  QTreeView* FileList() const { return m_listFiles; }
  const QTimer& JobTimer() const { return m_timer; }
  const QString& JobStatus() const { return m_strJobStatus; }
  const QString& FileCount() const { return m_strFileCount; }
  QCheckBox* MacRomanNames() const { return m_macRomanCheck; }
  QCheckBox* ResourceForksAndDates() const { return m_resourceForksCheck; }
  QCheckBox* KeepGoingBox() const { return m_keepGoingBox; }
  QPushButton* FindDamageButton() const { return m_findDamageButton; }
  QPushButton* SaveVolumeImageButton() const { return m_saveImageButton; }
  QProgressBar* ProgressBar() const { return m_progressBar; }
  FileListModel* Model() const { return m_model; }

  // app::FileListView
  std::vector<int> SelectedRows() const override;
  void ShowJobStatus(const std::string& text) override;
  void ShowProgress(bool shown, int permille) override;
  void StartTimer() override { m_timer.start(); }
  void StopTimer() override { m_timer.stop(); }
  void EnableJobCommands(bool enabled) override;
  void RowsChanged(bool columnAdded) override;

 public slots:
  void OnRecoverSelectedFiles() { m_session.OnRecoverSelectedFiles(); }
  void OnTimer() { m_session.OnTimer(); }
  void OnFindDamage() { m_session.OnFindDamage(); }
  void OnSaveList() { m_session.OnSaveList(); }
  void OnSaveVolumeImage() { m_session.OnSaveVolumeImage(); }
  void OnOK();
  void accept() override;
  // Escape: stops a running job and waits for it, as the Close button does.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  // The list grows with the window; what lies under it or right of it moves along.
  void resizeEvent(QResizeEvent* event) override;

 private:
  // How a control follows the window's growth.
  enum class Anchor { kGrow, kWiden, kDown, kDownRight };
  struct Placed {
    QWidget* widget;
    QRect base;  // where the template puts it
    Anchor anchor;
  };
  void Place(QWidget* widget, const QRect& base, Anchor anchor);
  void CreateControls();
  void OnInitDialog();
  // Moves the texts of the members into the controls.
  void UpdateData();
  void SizeColumns();

  app::FileListSession& m_session;
  QString m_strFileCount;
  QString m_strJobStatus;
  QTimer m_timer;

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
  QPushButton* m_saveImageButton = nullptr;
  QProgressBar* m_progressBar = nullptr;
  std::vector<Placed> m_placed;
  QSize m_baseSize;
};

}  // namespace kestrow::gui
