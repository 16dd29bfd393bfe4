// The main dialog: the drive list and the four commands, two for discs
// burned by Kestrow PRO and two for any CD.
#pragma once

#include <QDialog>
#include <QStringList>

#include <cstdint>
#include <string>

#include "app/CoreFactory.h"
#include "app/MainCommands.h"
#include "app/QtHost.h"

class QComboBox;
class QPushButton;

namespace kestrow::gui {

class ClickableLabel;

class CKestrowDiagDlg : public QDialog {
  Q_OBJECT

 public:
  // `imagePaths` join the optical drives in the list; the first of them is
  // selected. Cores for the commands come from `makeCore`.
  explicit CKestrowDiagDlg(const QStringList& imagePaths = {}, app::CoreFactory makeCore = app::DefaultCoreFactory(),
                           app::DriveLister listDrives = app::DefaultDriveLister(), QWidget* parent = nullptr);

  // The step every command takes first: the selected source and the number
  // of sectors of the disc in it (at least 2). False when there is none; the
  // user has then been told why.
  bool GetSelectedDrive(std::string& source, std::int32_t& sectorCount);

  // Adds a disc image to the list (or finds it there) and selects it;
  // returns its index in the list.
  int AddImage(const QString& path);

  QComboBox* DriveList() const { return m_comboDrive; }

  void setVisible(bool visible) override;

 public slots:
  void OnCheckFormat();
  void OnBrowseFileList();
  void OnGetVolumeSize();
  void OnPhysicalDump();
  void OnLogoClicked();
  void OnOpenImage();
  void ShowAboutBox();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CreateControls();
  void OnInitDialog(const QStringList& imagePaths);
  void WidenDropDown();
  // Shows the sources of the commands, and their selection.
  void FillDriveList();

  QtHost m_host;
  app::MainCommands m_commands;
  app::DriveLister m_listDrives;
  bool m_bShownOnce = false;

  QPushButton* m_checkFormatButton = nullptr;
  QPushButton* m_browseButton = nullptr;
  QPushButton* m_volumeSizeButton = nullptr;
  QPushButton* m_dumpButton = nullptr;
  QComboBox* m_comboDrive = nullptr;
  QPushButton* m_openImageButton = nullptr;
  QPushButton* m_exitButton = nullptr;
  ClickableLabel* m_logo = nullptr;
};

}  // namespace kestrow::gui
