// Runs a damage scan on a thread of its own with a core of its own, so the
// file list stays responsive; the dialog polls it on a timer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "KestrowCore.h"
#include "recovery/DamageScan.h"

namespace kestrow::app {

class DamageScanRunner {
 public:
  // Starts the scan on `core`; a thread that cannot start ends it at once.
  // With policy.keepGoing a disc whose end is gone is scanned from the
  // packed copy of its metadata, its groups found by search.
  DamageScanRunner(std::unique_ptr<CKestrowCore> core, const ReadPolicy& policy);
  // Asks a running scan to stop and waits for it.
  ~DamageScanRunner();
  DamageScanRunner(const DamageScanRunner&) = delete;
  DamageScanRunner& operator=(const DamageScanRunner&) = delete;

  bool Finished() const { return m_finished; }
  // Parts per thousand of the sectors to read, as far as known.
  int Permille() const;
  // Valid once Finished(): whether the scan read the volume through, and what it found.
  bool Succeeded() const { return m_succeeded; }
  const DamageScan& Result() const { return m_scan; }

 private:
  void Run();

  std::unique_ptr<CKestrowCore> m_core;
  const ReadPolicy m_policy;
  DamageScan m_scan;
  bool m_succeeded = false;
  std::atomic<bool> m_finished{false};
  std::atomic<bool> m_stop{false};
  std::atomic<std::uint64_t> m_done{0};
  std::atomic<std::uint64_t> m_total{0};
  std::thread m_thread;  // last: starts once the members above exist
};

}  // namespace kestrow::app
