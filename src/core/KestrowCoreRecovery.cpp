// The facade's recovery job (its worker thread and stop request), the
// salvage of a disc whose end may be gone, and the damage scan.
#include <chrono>
#include <system_error>

#include "KestrowCore.h"
#include "recovery/RecoveryRun.h"
#include "recovery/SalvagedVolume.h"
#include "text/Messages.h"

namespace kestrow {

std::uint32_t RecoveryThreadProc(CKestrowCore* core) {
  RecoveryRun run(core->m_reader, g_vecRecoverFiles, g_strDestFolder, g_recoveryOptions, core->m_bStopRequest,
                  core->m_strStatus);
  const std::uint32_t result = run.Run();
  if (run.OpenFailed()) {
    core->m_nErrorState = kErrorCannotOpen;
  } else {
    const RecoveryState state = core->m_strStatus.Progress().state;
    core->Judge(state == RecoveryState::kFinished || state == RecoveryState::kStopped ||
                state == RecoveryState::kDifferentDisc);
  }
  core->m_bWorkerRunning = false;
  return result;
}

bool CKestrowCore::StartRecovery(const std::vector<FileEntry>& selected, const std::string& destFolder,
                                 const RecoveryOptions& options) {
  SetStatus(msg::kReading);
  if (m_hThread.joinable()) m_hThread.join();  // the previous worker has ended or is about to
  g_vecRecoverFiles = selected;
  g_strDestFolder = destFolder;
  g_recoveryOptions = options;
  ResetReadStatistics();  // what this job's reads meet, for its end
  m_bStopRequest = false;
  std::uint64_t bytesTotal = 0;
  for (const FileEntry& entry : selected) bytesTotal += entry.dataLogicalLength;
  m_strStatus.Update([&](RecoveryOutcome& o) {
    o = RecoveryOutcome{};
    o.state = RecoveryState::kRunning;
    o.fileCount = selected.size();
    o.files.resize(selected.size());
    o.bytesTotal = bytesTotal;
  });
  m_bWorkerRunning = true;
  try {
    m_hThread = std::thread(RecoveryThreadProc, this);
  } catch (const std::system_error& e) {
    m_bWorkerRunning = false;
    m_strStatus.Update([&](RecoveryOutcome& o) {
      o.state = RecoveryState::kAborted;
      o.failure = std::string("the job's thread could not be started: ") + e.what();
    });
  }
  return true;
}

void CKestrowCore::RequestStop() {
  if (!m_hThread.joinable()) return;
  m_bStopRequest = true;
  // The worker clears the flag when it obeys between two files; a worker that
  // has already ended (after a failure or its last file) never will.
  while (m_bStopRequest && m_bWorkerRunning) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  m_hThread.join();
  m_bStopRequest = false;
}

void CKestrowCore::WaitForRecovery() {
  if (m_hThread.joinable()) m_hThread.join();
}

RecoveryOutcome CKestrowCore::GetRecoveryOutcome() const { return m_strStatus.Outcome(); }

RecoveryProgress CKestrowCore::GetRecoveryProgress() const { return m_strStatus.Progress(); }

bool CKestrowCore::LoadSalvagedVolume(SalvagedVolume& volume, const ReadPolicy& policy) {
  volume = SalvagedVolume{};
  bool opened = false;
  const bool loaded = WithDevice([&] {
    opened = true;
    return ReadSalvagedVolume(volume, policy);
  });
  if (!opened) volume.failure = "the source could not be opened";
  return loaded;
}

bool CKestrowCore::ReadSalvagedVolume(SalvagedVolume& volume, const ReadPolicy& policy) {
  const bool loaded = kestrow::ReadSalvagedVolume(m_reader, volume, policy);
  // A volume area that did not load is a failed read, whatever the packed copy held.
  return Judge(loaded && volume.areaLoaded) || loaded;
}

bool CKestrowCore::ScanDamage(DamageScan& scan, const ReadPolicy& policy, const ScanProgressCallback& progress) {
  bool scanned = false;
  const bool opened = WithDevice([&] {
    scanned = kestrow::ScanDamage(m_reader, scan, policy, progress);
    // A scan the user stopped has not failed.
    return scanned || scan.failed == ScanFailure::kStopped;
  });
  if (!opened && scan.failed == ScanFailure::kNone) {
    scan = DamageScan{};
    scan.failed = ScanFailure::kCannotOpen;
  }
  return scanned;
}

}  // namespace kestrow
