// The sector range dialog of the physical dump: first and last sector,
// 1-based, both within 1..N, the first not after the last.
#pragma once

#include <QDialog>

#include <cstdint>

class QLineEdit;
class QPushButton;

namespace kestrow::gui {

class CSelectSectorDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CSelectSectorDlg(std::uint32_t maxSector, QWidget* parent = nullptr);

  // Moves the members into the edits (false), or reads and checks the edits
  // into the members (true). A failed check has told the user, and moved the
  // focus to the edit in question with its text selected.
  bool UpdateData(bool saveAndValidate);

  std::uint32_t m_nStartSector = 1;
  std::uint32_t m_nEndSector;
  std::uint32_t m_nMaxSector;

  QLineEdit* StartEdit() const { return m_editStart; }
  QLineEdit* EndEdit() const { return m_editEnd; }
  QPushButton* OkButton() const { return m_okButton; }

 public slots:
  void accept() override;

 private:
  void CreateControls();
  bool Fail(QLineEdit* edit, const QString& message);

  QPushButton* m_okButton = nullptr;
  QPushButton* m_cancelButton = nullptr;
  QLineEdit* m_editStart = nullptr;
  QLineEdit* m_editEnd = nullptr;
};

}  // namespace kestrow::gui
