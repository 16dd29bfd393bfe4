#include "rawtools/StatusDlg.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

#include "app/DialogUnits.h"

namespace kestrow::gui {
namespace {

// The rescue status: five lines under the bar, in a window this wide (dialog units).
constexpr int kRescueWidth = 280;
constexpr int kRescueLines = 5;

}  // namespace

CStatusDlg::CStatusDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Physical Dump"));
  SetCaptionButtons(*this, CaptionButtons::kNone);
  CreateControls();
  UpdateData();
}

void CStatusDlg::CreateControls() {
  const DialogUnits du = SetUpDialogFrame(*this, 167, 38);

  m_progressText = new QLabel(this);
  m_progressText->setTextFormat(Qt::PlainText);
  m_progressText->setGeometry(du.Rect(7, 7, 153, 8));

  m_progressBar = new QProgressBar(this);
  m_progressBar->setGeometry(du.Rect(7, 20, 98, 11));
  m_progressBar->setTextVisible(false);
  m_progressBar->setRange(0, 1);
  m_progressBar->setValue(0);

  m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  m_cancelButton->setGeometry(du.Rect(110, 18, 50, 14));

  m_rescueText = new QLabel(this);
  m_rescueText->setTextFormat(Qt::PlainText);
  m_rescueText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_rescueText->setGeometry(du.Rect(7, 37, kRescueWidth - 14, kRescueLines * 9));
  m_rescueText->hide();
  connect(m_cancelButton, &QPushButton::clicked, this, &CStatusDlg::reject);
}

void CStatusDlg::UpdateData() { m_progressText->setText(m_strProgress); }

void CStatusDlg::SetProgress(const QString& text, int done, int total) {
  m_strProgress = text;
  UpdateData();
  m_progressBar->setRange(0, std::max(total, 1));
  m_progressBar->setValue(done);
}

void CStatusDlg::SetRescueStatus(const QString& text) {
  if (m_rescueText->isHidden()) {
    const DialogUnits du(font());
    setFixedSize(du.Size(kRescueWidth, 37 + kRescueLines * 9 + 7));
    m_rescueText->show();
  }
  m_rescueText->setText(text);
}

void CStatusDlg::reject() {
  m_bCancelRequested = true;
  m_cancelButton->setEnabled(false);
}

void CStatusDlg::closeEvent(QCloseEvent* event) {
  // No close box: the window goes when the dump ends.
  event->ignore();
}

}  // namespace kestrow::gui
