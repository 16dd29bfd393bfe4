// The progress window of the physical dump: "Reading done/total...", a
// progress bar and a Cancel button. It has no close box.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kestrow::gui {

class CStatusDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CStatusDlg(QWidget* parent = nullptr);

  QString m_strProgress;

  // Moves m_strProgress into the window.
  void UpdateData();
  // Shows `text` ("Reading done/total...") and `done` of `total` on the bar.
  void SetProgress(const QString& text, int done, int total);
  // A rescue dump's state under the bar; the window grows to show it the
  // first time.
  void SetRescueStatus(const QString& text);
  QLabel* RescueStatusText() const { return m_rescueText; }
  bool CancelRequested() const { return m_bCancelRequested; }

 public slots:
  // Escape and the Cancel button ask the dump to end; the window stays until it has.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();

  QLabel* m_progressText = nullptr;
  QLabel* m_rescueText = nullptr;
  QProgressBar* m_progressBar = nullptr;
  QPushButton* m_cancelButton = nullptr;
  bool m_bCancelRequested = false;
};

}  // namespace kestrow::gui
