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

  // The range the user chose with the rescue option: the plain dump was
  // then cancelled before its file was made, for the rescue to run instead.
  const std::optional<SectorRange>& RescueChosen() const { return m_rescue; }

 private:
  Host& m_host;
  std::optional<SectorRange> m_rescue;
  std::unique_ptr<ProgressWindow> m_window;
};

}  // namespace kestrow::app
