#include "rawtools/DialogDumpCallbacks.h"

#include <QCoreApplication>
#include <QEventLoop>

#include "app/UiHost.h"
#include "rawtools/SelectSectorDlg.h"
#include "rawtools/StatusDlg.h"

namespace kestrow::gui {
namespace {

// How often the progress window gets to paint while sectors are read.
constexpr qint64 kRepaintMilliseconds = 50;

}  // namespace

DialogDumpCallbacks::DialogDumpCallbacks(QWidget* owner) : m_owner(owner) {}

DialogDumpCallbacks::~DialogDumpCallbacks() = default;

bool DialogDumpCallbacks::ChooseSectorRange(std::uint32_t sectorCount, std::uint32_t& start, std::uint32_t& end) {
  CSelectSectorDlg dialog(sectorCount, m_owner);
  if (UiHost::Current().RunModal(dialog) != QDialog::Accepted) return false;
  start = dialog.m_nStartSector;
  end = dialog.m_nEndSector;
  return true;
}

void DialogDumpCallbacks::ProgressStarted() {
  m_status = std::make_unique<CStatusDlg>(m_owner);
  // While the loop runs only the progress window takes input.
  m_status->setWindowModality(Qt::ApplicationModal);
  m_status->show();
  Repaint();
}

void DialogDumpCallbacks::ShowProgress(int done, int total) {
  if (!m_status) return;
  m_status->SetProgress(done, total);
  if (m_sinceRepaint.hasExpired(kRepaintMilliseconds)) Repaint();
}

void DialogDumpCallbacks::ProgressFinished() { m_status.reset(); }

bool DialogDumpCallbacks::CancelRequested() { return m_status && m_status->CancelRequested(); }

void DialogDumpCallbacks::Repaint() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  m_sinceRepaint.start();
}

}  // namespace kestrow::gui
