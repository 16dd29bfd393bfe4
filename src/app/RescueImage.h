// Physical Dump's rescue option: a resumable whole-disc image with the GNU
// ddrescue map beside it (IMAGE's extension replaced by .map), read in the
// rescue dump's passes, the progress window showing the rescue's state.
// Stopping saves the map; running it again on the same image goes on.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "CoreFactory.h"
#include "Host.h"
#include "rawtools/PhysicalDump.h"
#include "rawtools/RescueStatus.h"

namespace kestrow::app {

// The rescue's state in a few lines for the progress window: the phase and
// pass, the position, what was rescued, the sizes still to do and the bad
// ones, the rates and the clocks (the time since the last good read last).
std::string FormatRescueStatus(const RescueStatus& status);

// The face of a rescue dump: the range already chosen, the progress window
// over the host. The status may come from another thread than the one that
// runs the dump; it is kept under a lock and shown on the dump's own thread
// (at once when it is that thread, else at the next progress or poll).
class HostRescueCallbacks : public DumpCallbacks {
 public:
  HostRescueCallbacks(Host& host, SectorRange range);

  bool ChooseSectorRange(std::uint32_t sectorCount, std::uint32_t& start, std::uint32_t& end) override;
  void ProgressStarted() override;
  void ShowProgress(int done, int total) override;
  void ProgressFinished() override;
  void ShowRescueStatus(const RescueStatus& status) override;
  bool CancelRequested() override;

 private:
  void ShowPendingStatus();

  Host& m_host;
  SectorRange m_range;
  std::unique_ptr<ProgressWindow> m_window;
  const std::thread::id m_windowThread = std::this_thread::get_id();
  std::mutex m_statusLock;
  std::optional<std::string> m_pendingStatus;  // guarded by m_statusLock
};

// Runs the rescue of `range` of `source` (a disc of `sectorCount` sectors)
// into `imagePath` and the map beside it, and tells the user how it ended.
void RunRescueDump(Host& host, const CoreFactory& makeCore, const std::string& source, std::uint32_t sectorCount,
                   const std::string& imagePath, SectorRange range);

}  // namespace kestrow::app
