#include "app/KestrowDiagDlg.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>
#include <optional>

#include "app/AppResources.h"
#include "app/AppText.h"
#include "app/ClickableLabel.h"
#include "app/DialogUnits.h"

namespace kestrow::gui {
namespace {

// The "Open Image..." button sits under the drive list; everything below it
// moves down by this many dialog units.
constexpr int kImageRow = 18;

}  // namespace

CKestrowDiagDlg::CKestrowDiagDlg(const QStringList& imagePaths, app::CoreFactory makeCore,
                                 app::DriveLister listDrives, QWidget* parent)
    : QDialog(parent), m_commands(m_host, std::move(makeCore)), m_listDrives(std::move(listDrives)) {
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
  connect(m_comboDrive, &QComboBox::currentIndexChanged, this, [this](int index) {
    m_commands.Sources().Select(index < 0 ? m_commands.Sources().Items().size() : static_cast<std::size_t>(index));
  });
  m_comboDrive->setGeometry(du.X(90), du.Y(7), du.X(74), m_comboDrive->sizeHint().height());

  m_openImageButton = new QPushButton(QString::fromLatin1(app::text::kOpenImageButton), this);
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
  auto* about = new QAction(QString::fromLatin1(app::text::kAboutMenuItem), this);
  connect(about, &QAction::triggered, this, &CKestrowDiagDlg::ShowAboutBox);
  addAction(about);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  // The first tab stop takes the focus.
  m_checkFormatButton->setFocus();
}

void CKestrowDiagDlg::OnInitDialog(const QStringList& imagePaths) {
  std::vector<std::string> images;
  for (const QString& image : imagePaths) images.push_back(PathFromQt(image));
  m_commands.FillSources(m_listDrives(), images);
  FillDriveList();
}

void CKestrowDiagDlg::FillDriveList() {
  const QSignalBlocker quiet(m_comboDrive);
  m_comboDrive->clear();
  for (const app::SourceItem& item : m_commands.Sources().Items()) {
    m_comboDrive->addItem(PathToQt(item.shown));
    m_comboDrive->setItemData(m_comboDrive->count() - 1, PathToQt(item.source), Qt::ToolTipRole);
  }
  const std::optional<std::size_t> selected = m_commands.Sources().Selected();
  m_comboDrive->setCurrentIndex(selected ? static_cast<int>(*selected) : -1);
  WidenDropDown();
}

void CKestrowDiagDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (m_bShownOnce) return;
  m_bShownOnce = true;
  // Told once the dialog is on the screen; the dialog opens all the same.
  QTimer::singleShot(0, this, [this] { m_commands.WarnWhenNoDrive(); });
}

int CKestrowDiagDlg::AddImage(const QString& path) {
  const std::size_t index = m_commands.Sources().AddImage(PathFromQt(path));
  FillDriveList();
  return static_cast<int>(index);
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
  return m_commands.GetSelectedDrive(source, sectorCount);
}

void CKestrowDiagDlg::OnCheckFormat() { m_commands.OnCheckFormat(); }

void CKestrowDiagDlg::OnBrowseFileList() { m_commands.OnBrowseFileList(); }

void CKestrowDiagDlg::OnGetVolumeSize() { m_commands.OnGetVolumeSize(); }

void CKestrowDiagDlg::OnPhysicalDump() { m_commands.OnPhysicalDump(); }

void CKestrowDiagDlg::OnLogoClicked() { ShowAboutBox(); }

void CKestrowDiagDlg::ShowAboutBox() { m_commands.OnAbout(); }

void CKestrowDiagDlg::OnOpenImage() {
  if (m_commands.OnOpenImage()) FillDriveList();
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
