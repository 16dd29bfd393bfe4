#include "filelist/FileListDlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>

#include <algorithm>

#include "app/AppText.h"
#include "app/DialogUnits.h"
#include "app/QtHost.h"
#include "filelist/FileListModel.h"

namespace kestrow::gui {
namespace {

constexpr int kProgressRange = 1000;

}  // namespace

CFileListDlg::CFileListDlg(app::FileListSession& session, QWidget* parent)
    : QDialog(parent), m_session(session), m_strFileCount(ToQt(session.FileCountText())) {
  m_timer.setInterval(app::FileListSession::kTimerMilliseconds);
  connect(&m_timer, &QTimer::timeout, this, &CFileListDlg::OnTimer);
  setWindowTitle(QStringLiteral("File List"));
  SetCaptionButtons(*this, CaptionButtons::kClose);
  CreateControls();
  OnInitDialog();
  m_session.Attach(this);
}

CFileListDlg::~CFileListDlg() {
  m_timer.stop();
  m_session.Attach(nullptr);
}

void CFileListDlg::CreateControls() {
  // The template's size is the smallest; the list grows with the window.
  setFont(DialogFont());
  const DialogUnits du(font());
  m_baseSize = du.Size(439, 271);
  setMinimumSize(m_baseSize);
  resize(m_baseSize);
  setSizeGripEnabled(true);

  m_listFiles = new QTreeView(this);
  Place(m_listFiles, du.Rect(7, 19, 425, 186), Anchor::kGrow);
  m_fileCountText = new QLabel(this);
  m_fileCountText->setTextFormat(Qt::PlainText);
  Place(m_fileCountText, du.Rect(7, 7, 425, 8), Anchor::kWiden);
  m_jobStatusText = new QLabel(this);
  m_jobStatusText->setTextFormat(Qt::PlainText);
  Place(m_jobStatusText, du.Rect(7, 218, 194, 8), Anchor::kDown);
  m_recoverButton = new QPushButton(QStringLiteral("Recover Selected Files..."), this);
  Place(m_recoverButton, du.Rect(229, 216, 89, 14), Anchor::kDownRight);
  m_recoverButton->setDefault(true);
  m_saveListButton = new QPushButton(QStringLiteral("Save List..."), this);
  Place(m_saveListButton, du.Rect(325, 216, 52, 14), Anchor::kDownRight);
  m_closeButton = new QPushButton(QStringLiteral("Close"), this);
  Place(m_closeButton, du.Rect(382, 216, 50, 14), Anchor::kDownRight);
  m_macRomanCheck = new QCheckBox(QString::fromLatin1(app::text::kMacRomanNames), this);
  Place(m_macRomanCheck, du.Rect(7, 236, 78, 10), Anchor::kDown);
  m_resourceForksCheck = new QCheckBox(QString::fromLatin1(app::text::kResourceForksAndDates), this);
  Place(m_resourceForksCheck, du.Rect(87, 236, 103, 10), Anchor::kDown);
  // The bottom row: options of a job and the damage scan. Its left part
  // holds the output options.
  m_keepGoingBox = new QCheckBox(QString::fromLatin1(app::text::kKeepGoingCheckBox), this);
  Place(m_keepGoingBox, du.Rect(192, 236, 110, 10), Anchor::kDown);
  m_findDamageButton = new QPushButton(QString::fromLatin1(app::text::kFindDamageButton), this);
  Place(m_findDamageButton, du.Rect(367, 234, 65, 14), Anchor::kDownRight);
  // Under Save List..., its right edge with it, in a row of its own.
  m_saveImageButton = new QPushButton(QString::fromLatin1(app::text::kSaveVolumeImageButton), this);
  Place(m_saveImageButton, du.Rect(297, 252, 80, 14), Anchor::kDownRight);
  // Under the status text, as wide as it, while a job or a scan runs.
  m_progressBar = new QProgressBar(this);
  Place(m_progressBar, du.Rect(7, 228, 194, 5), Anchor::kDown);
  m_progressBar->setRange(0, kProgressRange);
  m_progressBar->setTextVisible(false);
  m_progressBar->hide();

  connect(m_recoverButton, &QPushButton::clicked, this, &CFileListDlg::OnRecoverSelectedFiles);
  connect(m_findDamageButton, &QPushButton::clicked, this, &CFileListDlg::OnFindDamage);
  connect(m_saveListButton, &QPushButton::clicked, this, &CFileListDlg::OnSaveList);
  connect(m_saveImageButton, &QPushButton::clicked, this, &CFileListDlg::OnSaveVolumeImage);
  connect(m_closeButton, &QPushButton::clicked, this, &CFileListDlg::OnOK);
}

void CFileListDlg::OnInitDialog() {
  UpdateData();
  m_model = new FileListModel(m_session, this);
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
  SizeColumns();
  m_macRomanCheck->setChecked(m_session.MacRomanNames());
  m_resourceForksCheck->setChecked(m_session.ResourceForksAndDates());
  m_keepGoingBox->setChecked(m_session.KeepGoing());
  connect(m_macRomanCheck, &QCheckBox::toggled, this, [this](bool on) { m_session.SetMacRomanNames(on); });
  connect(m_resourceForksCheck, &QCheckBox::toggled, this,
          [this](bool on) { m_session.SetResourceForksAndDates(on); });
  connect(m_keepGoingBox, &QCheckBox::toggled, this, [this](bool on) { m_session.SetKeepGoing(on); });
  // The list is the first tab stop.
  m_listFiles->setFocus();
}

void CFileListDlg::Place(QWidget* widget, const QRect& base, Anchor anchor) {
  widget->setGeometry(base);
  m_placed.push_back({widget, base, anchor});
}

void CFileListDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  const int dx = std::max(width() - m_baseSize.width(), 0);
  const int dy = std::max(height() - m_baseSize.height(), 0);
  for (const Placed& placed : m_placed) {
    QRect rect = placed.base;
    switch (placed.anchor) {
      case Anchor::kGrow:
        rect.setSize(rect.size() + QSize(dx, dy));
        break;
      case Anchor::kWiden:
        rect.setWidth(rect.width() + dx);
        break;
      case Anchor::kDown:
        rect.translate(0, dy);
        break;
      case Anchor::kDownRight:
        rect.translate(dx, dy);
        break;
    }
    placed.widget->setGeometry(rect);
  }
  if (m_model) SizeColumns();
}

void CFileListDlg::SizeColumns() {
  // Together the columns are 25 pixels narrower than the list's client area;
  // the damage column, when shown, takes its width from the path's.
  QHeaderView* header = m_listFiles->header();
  const int clientWidth = m_listFiles->contentsRect().width();
  const bool damage = m_model->HasDamageColumn();
  // The damage column fits its longest text ("not-written").
  const int damageWidth = std::max(60, m_listFiles->fontMetrics().horizontalAdvance(QStringLiteral("not-written")) + 16);
  header->resizeSection(FileListModel::kPathColumn, std::max(clientWidth - (damage ? 125 + damageWidth : 125), 0));
  header->resizeSection(FileListModel::kSizeColumn, 100);
  if (damage) header->resizeSection(FileListModel::kDamageColumn, damageWidth);
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

void CFileListDlg::ShowJobStatus(const std::string& text) {
  m_strJobStatus = ToQt(text);
  UpdateData();
}

void CFileListDlg::ShowProgress(bool shown, int permille) {
  m_progressBar->setValue(std::clamp(permille, 0, kProgressRange));
  m_progressBar->setVisible(shown);
}

void CFileListDlg::EnableJobCommands(bool enabled) {
  m_recoverButton->setEnabled(enabled);
  m_findDamageButton->setEnabled(enabled);
  m_saveImageButton->setEnabled(enabled);
}

void CFileListDlg::RowsChanged(bool columnAdded) {
  if (!columnAdded) {
    m_model->Refresh(false);
    return;
  }
  // The new column's cells join the rows selected before.
  const std::vector<int> selected = SelectedRows();
  m_model->Refresh(true);
  QItemSelection selection;
  const int lastColumn = m_model->columnCount() - 1;
  for (std::size_t k = 0; k < selected.size();) {
    std::size_t end = k + 1;
    while (end < selected.size() && selected[end] == selected[end - 1] + 1) ++end;
    selection.select(m_model->index(selected[k], 0), m_model->index(selected[end - 1], lastColumn));
    k = end;
  }
  m_listFiles->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  SizeColumns();
}

void CFileListDlg::OnOK() {
  m_session.StopBeforeClosing();
  QDialog::accept();
}

void CFileListDlg::accept() { OnOK(); }

void CFileListDlg::reject() {
  m_session.StopBeforeClosing();
  QDialog::reject();
}

void CFileListDlg::closeEvent(QCloseEvent* event) {
  m_session.StopBeforeClosing();
  // Passes on to the dialog's own handling, which ends it.
  QDialog::closeEvent(event);
}

}  // namespace kestrow::gui
