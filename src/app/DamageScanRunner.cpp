#include "DamageScanRunner.h"

#include <algorithm>
#include <system_error>

namespace kestrow::app {

DamageScanRunner::DamageScanRunner(std::unique_ptr<CKestrowCore> core, const ReadPolicy& policy)
    : m_core(std::move(core)), m_policy(policy) {
  try {
    m_thread = std::thread([this] { Run(); });
  } catch (const std::system_error& e) {
    m_scan.failed = ScanFailure::kStopped;
    m_scan.failure = e.what();
    m_finished = true;
  }
}

DamageScanRunner::~DamageScanRunner() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
}

int DamageScanRunner::Permille() const {
  const std::uint64_t total = m_total;
  if (total == 0) return 0;
  return static_cast<int>(std::min<std::uint64_t>(m_done, total) * 1000 / total);
}

void DamageScanRunner::Run() {
  try {
    m_succeeded = m_core->ScanDamage(m_scan, m_policy, [this](const ScanProgress& p) {
      m_done = p.sectorsDone;
      m_total = p.sectorsTotal;
      return !m_stop;
    });
  } catch (const std::exception& e) {  // out of memory: the scan ends, and says why
    m_succeeded = false;
    m_scan.failed = ScanFailure::kStopped;
    m_scan.failure = e.what();
  }
  m_finished = true;
}

}  // namespace kestrow::app
