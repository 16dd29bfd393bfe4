// The physical dump's face in the desktop application: the sector range
// dialog, and the progress window kept painted while the sectors are read.
#pragma once

#include <QElapsedTimer>

#include <memory>

#include "rawtools/PhysicalDump.h"

class QWidget;

namespace kestrow::gui {

class CStatusDlg;

class DialogDumpCallbacks : public DumpCallbacks {
 public:
  explicit DialogDumpCallbacks(QWidget* owner);
  ~DialogDumpCallbacks() override;

  bool ChooseSectorRange(std::uint32_t sectorCount, std::uint32_t& start, std::uint32_t& end) override;
  void ProgressStarted() override;
  void ShowProgress(int done, int total) override;
  void ProgressFinished() override;
  bool CancelRequested() override;

 private:
  void Repaint();

  QWidget* m_owner;
  std::unique_ptr<CStatusDlg> m_status;
  QElapsedTimer m_sinceRepaint;
};

}  // namespace kestrow::gui
