#include "rawtools/StatusDlg.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

#include "app/DialogUnits.h"

namespace kestrow::gui {

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
  connect(m_cancelButton, &QPushButton::clicked, this, &CStatusDlg::reject);
}

void CStatusDlg::UpdateData() { m_progressText->setText(m_strProgress); }

void CStatusDlg::SetProgress(const QString& text, int done, int total) {
  m_strProgress = text;
  UpdateData();
  m_progressBar->setRange(0, std::max(total, 1));
  m_progressBar->setValue(done);
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
