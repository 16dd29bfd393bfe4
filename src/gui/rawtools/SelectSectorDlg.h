// The sector range dialog of the physical dump: first and last sector,
// 1-based, both within 1..N, the first not after the last; under them the
// LBAs they mean, and the option of a resumable rescue image.
#pragma once

#include <QDialog>

#include <cstdint>

class QCheckBox;
class QLabel;
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
  bool m_bRescue = false;  // "Resumable rescue image (with a map)", off by default

  QLineEdit* StartEdit() const { return m_editStart; }
  QLineEdit* EndEdit() const { return m_editEnd; }
  QPushButton* OkButton() const { return m_okButton; }
  QCheckBox* RescueCheckBox() const { return m_rescue; }
  QLabel* LbaLabel() const { return m_lbas; }

 public slots:
  void accept() override;

 private:
  void CreateControls();
  bool Fail(QLineEdit* edit, const QString& message);
  void ShowLbas();

  QPushButton* m_okButton = nullptr;
  QPushButton* m_cancelButton = nullptr;
  QLineEdit* m_editStart = nullptr;
  QLineEdit* m_editEnd = nullptr;
  QLabel* m_lbas = nullptr;
  QCheckBox* m_rescue = nullptr;
};

}  // namespace kestrow::gui
