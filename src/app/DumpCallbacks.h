// The physical dump's face, through the Host: the sector range dialog, and
// the progress window while the sectors are read.
#pragma once

#include <memory>

#include "Host.h"
#include "rawtools/PhysicalDump.h"

namespace kestrow::app {

class HostDumpCallbacks : public DumpCallbacks {
 public:
  explicit HostDumpCallbacks(Host& host) : m_host(host) {}

  bool ChooseSectorRange(std::uint32_t sectorCount, std::uint32_t& start, std::uint32_t& end) override;
  void ProgressStarted() override;
  void ShowProgress(int done, int total) override;
  void ProgressFinished() override;
  bool CancelRequested() override;

 private:
  Host& m_host;
  std::unique_ptr<ProgressWindow> m_window;
};

}  // namespace kestrow::app
