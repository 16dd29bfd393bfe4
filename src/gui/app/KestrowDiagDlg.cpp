#include "app/KestrowDiagDlg.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <optional>

#include "app/AboutDlg.h"
#include "app/AppResources.h"
#include "app/BusyCursor.h"
#include "app/ClickableLabel.h"
#include "app/DialogUnits.h"
#include "app/GuiText.h"
#include "app/UiHost.h"
#include "drive/SourceFiles.h"
#include "filelist/FileListDlg.h"
#include "rawtools/DialogDumpCallbacks.h"
#include "recovery/SalvagedVolume.h"
#include "rawtools/VolumeSize.h"
#include "text/Messages.h"
#include "volume/FileEntry.h"
#include "volume/VolumeImage.h"

namespace kestrow::gui {
namespace {

// The "Open Image..." button sits under the drive list; everything below it
// moves down by this many dialog units.
constexpr int kImageRow = 18;

// The source a list item stands for (its device path or image path).
constexpr int kSourceRole = Qt::UserRole;

QString SourceText(const std::string& source) { return QFile::decodeName(QByteArray::fromStdString(source)); }

std::string SourcePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Runs a catalogue scan; why it could not go on (memory ran out on a hostile
// catalogue), or empty when nothing was thrown.
std::string ScanCatalogCatching(const std::function<void()>& scan) {
  try {
    scan();
    return {};
  } catch (const std::exception& e) {
    return msg::ExceptionReason(e);
  }
}

}  // namespace

CKestrowDiagDlg::CKestrowDiagDlg(const QStringList& imagePaths, CoreFactory makeCore, DriveLister listDrives,
                                 QWidget* parent)
    : QDialog(parent), m_makeCore(std::move(makeCore)), m_listDrives(std::move(listDrives)) {
  setWindowTitle(QStringLiteral("Kestrow Diag"));
  SetCaptionButtons(*this, CaptionButtons::kCloseAndMinimize);
  setWindowIcon(AppIcon());
  CreateControls();
  OnInitDialog(imagePaths);
}

void CKestrowDiagDlg::CreateControls() {
  const DialogUnits du = SetUpDialogFrame(*this, 171, 159 + kImageRow);
  const int shift = kImageRow;

  // Controls in the order of the template, which is also the tab order.
  auto* prompt = new QLabel(QStringLiteral("Select CD-ROM drive:"), this);
  prompt->setGeometry(du.Rect(7, 8, 82, 8));

  m_checkFormatButton = new QPushButton(QStringLiteral("Check Format..."), this);
  m_checkFormatButton->setGeometry(du.Rect(39, 40 + shift, 91, 14));
  m_browseButton = new QPushButton(QStringLiteral("Browse File List..."), this);
  m_browseButton->setGeometry(du.Rect(39, 59 + shift, 91, 14));
  m_volumeSizeButton = new QPushButton(QStringLiteral("Get Volume Size..."), this);
  m_volumeSizeButton->setGeometry(du.Rect(39, 97 + shift, 91, 14));
  m_dumpButton = new QPushButton(QStringLiteral("Physical Dump..."), this);
  m_dumpButton->setGeometry(du.Rect(39, 115 + shift, 91, 14));

  m_comboDrive = new QComboBox(this);
  m_comboDrive->setGeometry(du.X(90), du.Y(7), du.X(74), m_comboDrive->sizeHint().height());

  m_openImageButton = new QPushButton(QString::fromLatin1(text::kOpenImageButton), this);
  m_openImageButton->setGeometry(du.Rect(90, 24, 74, 14));

  m_exitButton = new QPushButton(QStringLiteral("Exit"), this);
  m_exitButton->setGeometry(du.Rect(122, 138 + shift, 42, 14));

  m_logo = new ClickableLabel(this);
  const QPixmap logo = LogoPixmap();
  m_logo->setPixmap(logo);
  m_logo->setGeometry(du.X(7), du.Y(140 + shift), logo.width(), logo.height());
  m_logo->setCursor(Qt::PointingHandCursor);

  auto* burnedGroup = new QGroupBox(QStringLiteral("CD-R burned by Kestrow PRO"), this);
  burnedGroup->setGeometry(du.Rect(7, 26 + shift, 157, 51));
  auto* anyGroup = new QGroupBox(QStringLiteral("Any CD-R, CD-ROM"), this);
  anyGroup->setGeometry(du.Rect(7, 82 + shift, 157, 51));
  // The frames are drawn behind the buttons they surround.
  burnedGroup->lower();
  anyGroup->lower();

  for (QPushButton* button : {m_checkFormatButton, m_browseButton, m_volumeSizeButton, m_dumpButton,
                              m_openImageButton, m_exitButton}) {
    button->setAutoDefault(true);
  }
  connect(m_checkFormatButton, &QPushButton::clicked, this, &CKestrowDiagDlg::OnCheckFormat);
  connect(m_browseButton, &QPushButton::clicked, this, &CKestrowDiagDlg::OnBrowseFileList);
  connect(m_volumeSizeButton, &QPushButton::clicked, this, &CKestrowDiagDlg::OnGetVolumeSize);
  connect(m_dumpButton, &QPushButton::clicked, this, &CKestrowDiagDlg::OnPhysicalDump);
  connect(m_openImageButton, &QPushButton::clicked, this, &CKestrowDiagDlg::OnOpenImage);
  connect(m_exitButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_logo, &ClickableLabel::clicked, this, &CKestrowDiagDlg::OnLogoClicked);

  // Where the window manager offers no system menu to extend, the about item
  // is on the dialog's context menu.
  auto* about = new QAction(QString::fromLatin1(text::kAboutMenuItem), this);
  connect(about, &QAction::triggered, this, &CKestrowDiagDlg::ShowAboutBox);
  addAction(about);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  // The first tab stop takes the focus.
  m_checkFormatButton->setFocus();
}

void CKestrowDiagDlg::OnInitDialog(const QStringList& imagePaths) {
  for (const std::string& drive : m_listDrives()) {
    const QString path = SourceText(drive);
    m_comboDrive->addItem(path, path);
    m_comboDrive->setItemData(m_comboDrive->count() - 1, path, Qt::ToolTipRole);
  }
  int firstImage = -1;
  for (const QString& image : imagePaths) {
    const int index = AddImage(image);
    if (firstImage < 0) firstImage = index;
  }
  if (m_comboDrive->count() > 0) m_comboDrive->setCurrentIndex(firstImage >= 0 ? firstImage : 0);
}

void CKestrowDiagDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (m_bShownOnce) return;
  m_bShownOnce = true;
  if (m_comboDrive->count() <= 0) {
    // Told once the dialog is on the screen; the dialog opens all the same.
    QTimer::singleShot(0, this, [this] { AppMessageBox(this, msg::kNoDrive, MessageStyle::kOk); });
  }
}

int CKestrowDiagDlg::AddImage(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  int index = m_comboDrive->findData(absolute, kSourceRole);
  if (index < 0) {
    m_comboDrive->addItem(QFileInfo(absolute).fileName(), absolute);
    index = m_comboDrive->count() - 1;
    m_comboDrive->setItemData(index, absolute, Qt::ToolTipRole);
    WidenDropDown();
  }
  m_comboDrive->setCurrentIndex(index);
  return index;
}

void CKestrowDiagDlg::WidenDropDown() {
  // Image names may be longer than the box; the open list shows them whole.
  const QFontMetrics metrics(m_comboDrive->font());
  int widest = 0;
  for (int i = 0; i < m_comboDrive->count(); ++i) {
    widest = std::max(widest, metrics.horizontalAdvance(m_comboDrive->itemText(i)));
  }
  m_comboDrive->view()->setMinimumWidth(widest + 4 * metrics.averageCharWidth());
}

bool CKestrowDiagDlg::GetSelectedDrive(std::string& source, std::int32_t& sectorCount) {
  const int index = m_comboDrive->currentIndex();
  if (index < 0 || m_comboDrive->currentText().isEmpty()) {
    AppMessageBox(this, msg::kNoDrive, MessageStyle::kOk);
    return false;
  }
  const std::string selected = SourcePath(m_comboDrive->itemData(index, kSourceRole).toString());
  std::int32_t count = 0;
  {
    BusyCursor busy;
    const std::unique_ptr<CKestrowCore> core = m_makeCore(selected);
    count = core->GetSectorCount();
  }
  // Whatever the cause (no access, no disc, a one-sector disc), one message.
  if (count < 2) {
    AppMessageBox(this, msg::kNoValidDisc, MessageStyle::kOk);
    return false;
  }
  source = selected;
  sectorCount = count;
  return true;
}

void CKestrowDiagDlg::OnCheckFormat() {
  std::string source;
  std::int32_t sectorCount = 0;
  if (!GetSelectedDrive(source, sectorCount)) return;
  bool burned = false;
  {
    BusyCursor busy;
    const std::unique_ptr<CKestrowCore> core = m_makeCore(source);
    burned = core->CheckBurnSignature();
  }
  if (burned) {
    AppMessageBox(this, msg::kBurnedByKestrow, MessageStyle::kIconInformation);
  } else {
    AppMessageBox(this, msg::kNotBurnedByKestrow, MessageStyle::kOk);
  }
}

void CKestrowDiagDlg::OnBrowseFileList() {
  std::string source;
  std::int32_t sectorCount = 0;
  if (!GetSelectedDrive(source, sectorCount)) return;
  const std::unique_ptr<CKestrowCore> core = m_makeCore(source);
  VolumeImage image;
  VolumeAreaRead area;
  FileTable files;
  bool loaded = false;
  bool scanned = false;
  std::string tooDamaged;
  {
    BusyCursor busy;
    loaded = core->LoadVolumeImage(image, area);
    tooDamaged = ScanCatalogCatching([&] { scanned = loaded && core->ScanCatalog(image, files); });
  }
  if (!loaded) {
    // A sector at the disc's end that could not be read may have taken the
    // list with it; the files may still lie readable nearer the centre.
    const bool endUnreadable = area.lastSectorUnreadable || area.failedLba >= 0;
    if (endUnreadable && UiHost::Current().AskYesNo(this, QString::fromLatin1(text::kSearchDamagedDiscQuestion))) {
      BrowseSalvagedFileList(*core, source);
      return;
    }
    AppMessageBox(this, msg::kNotBurnedByKestrow, MessageStyle::kOk);
    return;
  }
  if (!scanned) {
    AppMessageBox(this, tooDamaged.empty() ? msg::kUnknownFormat : msg::kCatalogTooDamaged, MessageStyle::kOk);
    return;
  }
  CFileListDlg dialog(&files, source, m_makeCore, this);
  MasterDirectoryBlock mdb;
  if (core->ReadMasterDirectoryBlock(image, mdb)) dialog.SetListedVolume(ListedVolume{mdb.VolumeName(), mdb.drCrDate()});
  UiHost::Current().RunModal(dialog);
}

void CKestrowDiagDlg::BrowseSalvagedFileList(CKestrowCore& core, const std::string& source) {
  SalvagedVolume salvaged;
  FileTable files;
  std::size_t lostNodes = 0;
  bool loaded = false;
  bool scanned = false;
  std::string tooDamaged;
  {
    BusyCursor busy;
    loaded = core.LoadSalvagedVolume(salvaged, ReadPolicy{0, true});
    tooDamaged = ScanCatalogCatching([&] {
      scanned = loaded && core.ScanCatalog(salvaged.image, files, salvaged.unreadableBytes, lostNodes);
    });
  }
  if (!loaded) {
    AppMessageBox(this, SalvageFailureMessage(salvaged), MessageStyle::kOk);
    return;
  }
  if (!scanned) {
    AppMessageBox(this, tooDamaged.empty() ? msg::kUnknownFormat : msg::kCatalogTooDamaged, MessageStyle::kOk);
    return;
  }
  if (lostNodes > 0) {
    AppMessageBox(this, QString::fromLatin1(text::kLostNodesFormat).arg(lostNodes), MessageStyle::kOk);
  }
  CFileListDlg dialog(&files, source, m_makeCore, this);
  // The recovery job has to go on past the same damage to find the files' groups.
  dialog.KeepGoingBox()->setChecked(true);
  MasterDirectoryBlock mdb;
  if (core.ReadMasterDirectoryBlock(salvaged.image, mdb)) {
    dialog.SetListedVolume(ListedVolume{mdb.VolumeName(), mdb.drCrDate()});
  }
  UiHost::Current().RunModal(dialog);
}

void CKestrowDiagDlg::OnGetVolumeSize() {
  std::string source;
  std::int32_t sectorCount = 0;
  if (!GetSelectedDrive(source, sectorCount)) return;
  AppMessageBox(this, QString::fromStdString(FormatVolumeSize(sectorCount)), MessageStyle::kIconInformation);
}

void CKestrowDiagDlg::OnPhysicalDump() {
  std::string source;
  std::int32_t sectorCount = 0;
  if (!GetSelectedDrive(source, sectorCount)) return;
  const std::optional<QString> path =
      UiHost::Current().GetSaveFileName(this, QStringLiteral("DiscImage"), QStringLiteral("dat"));
  if (!path || !OutputSparesTheSource(this, SourceFiles(source, {}), SourcePath(*path))) return;
  bool completed = false;
  bool writeFailed = false;
  {
    const std::unique_ptr<CKestrowCore> core = m_makeCore(source);
    DialogDumpCallbacks face(this);
    completed = core->DumpSectors(SourcePath(*path), face);
    writeFailed = core->GetDumpStatistics().writeFailed;
  }
  // The progress window is gone by now.
  if (completed) {
    AppMessageBox(this, msg::kCompleted, MessageStyle::kIconInformation);
  } else {
    // A full disk is no damaged disc.
    AppMessageBox(this, writeFailed ? msg::kImageWriteFailed : msg::kDumpFailed, MessageStyle::kOk);
  }
}

void CKestrowDiagDlg::OnLogoClicked() { ShowAboutBox(); }

void CKestrowDiagDlg::ShowAboutBox() {
  CAboutDlg about(this);
  UiHost::Current().RunModal(about);
}

void CKestrowDiagDlg::OnOpenImage() {
  const std::optional<QString> path = UiHost::Current().GetOpenFileName(
      this, QString::fromLatin1(text::kOpenImageTitle), QString::fromLatin1(text::kOpenImageFilter));
  if (path) AddImage(*path);
}

void CKestrowDiagDlg::setVisible(bool visible) {
  QDialog::setVisible(visible);
  // The dialog has no default button; Qt makes one of the command buttons the
  // default when it shows a dialog without one. Only a focused button may be.
  if (!visible) return;
  for (QPushButton* button : findChildren<QPushButton*>()) {
    if (button->isDefault() && !button->hasFocus()) button->setDefault(false);
  }
}

void CKestrowDiagDlg::keyPressEvent(QKeyEvent* event) {
  // Enter on a focused button runs it (the button takes the key itself).
  // Anywhere else it is the dialog's OK command and ends the dialog, as Exit does.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const bool plain = event->modifiers() == Qt::NoModifier ||
                     (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
  if (enter && plain && !qobject_cast<QPushButton*>(focusWidget())) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace kestrow::gui
