#include "app/AboutDlg.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/AppResources.h"
#include "app/DialogUnits.h"
#include "app/AppText.h"

namespace kestrow::gui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  m_strText = QString::fromLatin1(app::text::kAboutText);
  setWindowTitle(QString::fromLatin1(app::text::kAboutCaption));
  SetCaptionButtons(*this, CaptionButtons::kClose);
  CreateControls();
}

void CAboutDlg::CreateControls() {
  const DialogUnits du = SetUpDialogFrame(*this, 247, 76);

  auto* icon = new QLabel(this);
  icon->setPixmap(AppIconPixmap(32));
  icon->setGeometry(du.X(10), du.Y(10), 32, 32);

  auto* version = new QLabel(QString::fromLatin1(app::text::kAboutVersion), this);
  version->setTextFormat(Qt::PlainText);
  version->setGeometry(du.Rect(39, 7, 119, 8));

  auto* notice = new QLabel(QString::fromLatin1(app::text::kAboutNotice), this);
  notice->setTextFormat(Qt::PlainText);
  notice->setGeometry(du.Rect(39, 21, 119, 8));

  m_okButton = new QPushButton(QStringLiteral("OK"), this);
  m_okButton->setGeometry(du.Rect(190, 7, 50, 14));
  m_okButton->setDefault(true);
  connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);

  m_editText = new QPlainTextEdit(this);
  m_editText->setGeometry(du.Rect(7, 43, 233, 26));
  m_editText->setReadOnly(true);
  m_editText->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
  m_editText->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_editText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_editText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_editText->setTabChangesFocus(true);
  QString shown = m_strText;
  m_editText->setPlainText(shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));

  m_okButton->setFocus();
}

}  // namespace kestrow::gui
