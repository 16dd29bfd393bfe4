#include "rawtools/SelectSectorDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include <algorithm>
#include <limits>
#include <optional>

#include "app/DialogUnits.h"
#include "app/UiHost.h"
#include "rawtools/PhysicalDump.h"
#include "text/Messages.h"

namespace kestrow::gui {
namespace {

// An unsigned decimal number, as the edit holds it; nothing for an empty or
// non-numeric text. A number beyond 32 bits comes back as the largest value,
// which no disc reaches, so it fails the range check.
std::optional<std::uint32_t> ParseSector(const QString& text) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const QChar c : trimmed) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    value = std::min<std::uint64_t>(value * 10 + static_cast<unsigned>(c.unicode() - '0'),
                                    std::numeric_limits<std::uint32_t>::max());
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace

CSelectSectorDlg::CSelectSectorDlg(std::uint32_t maxSector, QWidget* parent)
    : QDialog(parent), m_nEndSector(maxSector), m_nMaxSector(maxSector) {
  setWindowTitle(QStringLiteral("Select Sector"));
  SetCaptionButtons(*this, CaptionButtons::kClose);
  CreateControls();
  UpdateData(false);
}

void CSelectSectorDlg::CreateControls() {
  const DialogUnits du = SetUpDialogFrame(*this, 167, 75);

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

  connect(m_okButton, &QPushButton::clicked, this, &CSelectSectorDlg::accept);
  connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
  // OK is the first tab stop and so has the focus when the dialog opens.
  m_okButton->setFocus();
}

bool CSelectSectorDlg::UpdateData(bool saveAndValidate) {
  if (!saveAndValidate) {
    m_editStart->setText(QString::number(m_nStartSector));
    m_editEnd->setText(QString::number(m_nEndSector));
    return true;
  }
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  if (!ExchangeSector(m_editStart, start)) return false;
  if (!ExchangeSector(m_editEnd, end)) return false;
  if (start > end) return Fail(m_editEnd, QString::fromLatin1(kSectorRangeOrderMessage));
  m_nStartSector = start;
  m_nEndSector = end;
  return true;
}

bool CSelectSectorDlg::ExchangeSector(QLineEdit* edit, std::uint32_t& value) {
  const std::optional<std::uint32_t> number = ParseSector(edit->text());
  if (!number) return Fail(edit, QString::fromLatin1(msg::kPositiveInteger));
  if (*number < 1 || *number > m_nMaxSector) {
    return Fail(edit, QString::asprintf(msg::kIntegerBetweenFormat, 1u, m_nMaxSector));
  }
  value = *number;
  return true;
}

bool CSelectSectorDlg::Fail(QLineEdit* edit, const QString& message) {
  AppMessageBox(this, message, MessageStyle::kOk);
  edit->setFocus();
  edit->selectAll();
  return false;
}

void CSelectSectorDlg::accept() {
  if (UpdateData(true)) QDialog::accept();
}

}  // namespace kestrow::gui
