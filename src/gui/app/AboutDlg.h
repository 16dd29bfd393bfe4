// The about box: the icon, the version, the maker's notice, and the maker's
// web and mail addresses in a read-only text field.
#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QPushButton;

namespace kestrow::gui {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  // "URL: ..." CR LF "Comments & Bug reports to: ...".
  QString m_strText;

 private:
  void CreateControls();

  QPushButton* m_okButton = nullptr;
  QPlainTextEdit* m_editText = nullptr;
};

}  // namespace kestrow::gui
