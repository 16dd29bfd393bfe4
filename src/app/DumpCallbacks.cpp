#include "DumpCallbacks.h"

namespace kestrow::app {

bool HostDumpCallbacks::ChooseSectorRange(std::uint32_t sectorCount, std::uint32_t& start, std::uint32_t& end) {
  const std::optional<SectorRange> range = m_host.ChooseSectorRange(sectorCount);
  if (!range) return false;
  if (range->rescue) {
    m_rescue = range;
    return false;
  }
  start = range->start;
  end = range->end;
  return true;
}

void HostDumpCallbacks::ProgressStarted() { m_window = m_host.OpenProgressWindow(); }

void HostDumpCallbacks::ShowProgress(int done, int total) {
  if (m_window) m_window->ShowProgress(FormatDumpProgress(done, total), done, total);
}

void HostDumpCallbacks::ProgressFinished() { m_window.reset(); }

bool HostDumpCallbacks::CancelRequested() { return m_window && m_window->CancelRequested(); }

}  // namespace kestrow::app
