#include "rawtools/SelectSectorDlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "app/AppText.h"
#include "app/DialogUnits.h"
#include "app/QtHost.h"
#include "app/SectorRangeCheck.h"
#include "app/UiHost.h"

namespace kestrow::gui {

CSelectSectorDlg::CSelectSectorDlg(std::uint32_t maxSector, QWidget* parent)
    : QDialog(parent), m_nEndSector(maxSector), m_nMaxSector(maxSector) {
  setWindowTitle(QStringLiteral("Select Sector"));
  SetCaptionButtons(*this, CaptionButtons::kClose);
  CreateControls();
  UpdateData(false);
}

void CSelectSectorDlg::CreateControls() {
  // The template's 167 x 75, grown for the LBA line and the rescue option
  // below the buttons; nothing of it moved.
  const DialogUnits du = SetUpDialogFrame(*this, 167, 88);

  auto* prompt = new QLabel(QStringLiteral("Select sectors to read."), this);
  prompt->setGeometry(du.Rect(7, 7, 153, 8));

  m_okButton = new QPushButton(QStringLiteral("OK"), this);
  m_okButton->setGeometry(du.Rect(110, 54, 50, 14));
  m_okButton->setDefault(true);
  m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  m_cancelButton->setGeometry(du.Rect(53, 54, 50, 14));

  // Digits only, as the edits of the template take.
  const auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
  m_editStart = new QLineEdit(this);
  m_editStart->setGeometry(du.Rect(32, 22, 40, 14));
  m_editStart->setValidator(digits);
  m_editEnd = new QLineEdit(this);
  m_editEnd->setGeometry(du.Rect(120, 22, 40, 14));
  m_editEnd->setValidator(digits);

  auto* startLabel = new QLabel(QStringLiteral("Start:"), this);
  startLabel->setGeometry(du.Rect(7, 25, 24, 8));
  auto* endLabel = new QLabel(QStringLiteral("End:"), this);
  endLabel->setGeometry(du.Rect(95, 25, 24, 8));

  m_lbas = new QLabel(this);
  m_lbas->setTextFormat(Qt::PlainText);
  m_lbas->setGeometry(du.Rect(7, 40, 153, 8));
  m_rescue = new QCheckBox(QString::fromUtf8(app::text::kRescueCheckBox), this);
  m_rescue->setGeometry(du.Rect(7, 72, 153, 10));
  connect(m_editStart, &QLineEdit::textChanged, this, &CSelectSectorDlg::ShowLbas);
  connect(m_editEnd, &QLineEdit::textChanged, this, &CSelectSectorDlg::ShowLbas);

  connect(m_okButton, &QPushButton::clicked, this, &CSelectSectorDlg::accept);
  connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
  // OK is the first tab stop and so has the focus when the dialog opens.
  m_okButton->setFocus();
}

bool CSelectSectorDlg::UpdateData(bool saveAndValidate) {
  if (!saveAndValidate) {
    m_editStart->setText(QString::number(m_nStartSector));
    m_editEnd->setText(QString::number(m_nEndSector));
    m_rescue->setChecked(m_bRescue);
    return true;
  }
  m_bRescue = m_rescue->isChecked();
  const app::SectorRangeCheck check =
      app::CheckSectorRange(FromQt(m_editStart->text()), FromQt(m_editEnd->text()), m_nMaxSector);
  if (!check.range) return Fail(check.focus == app::SectorEdit::kStart ? m_editStart : m_editEnd, ToQt(check.message));
  m_nStartSector = check.range->start;
  m_nEndSector = check.range->end;
  return true;
}

bool CSelectSectorDlg::Fail(QLineEdit* edit, const QString& message) {
  AppMessageBox(this, message, MessageStyle::kOk);
  edit->setFocus();
  edit->selectAll();
  return false;
}

void CSelectSectorDlg::ShowLbas() {
  m_lbas->setText(ToQt(app::SectorLbasText(FromQt(m_editStart->text()), FromQt(m_editEnd->text()))));
}

void CSelectSectorDlg::accept() {
  if (UpdateData(true)) QDialog::accept();
}

}  // namespace kestrow::gui
