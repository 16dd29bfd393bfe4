#include "VolumeImageRunner.h"

#include <algorithm>
#include <system_error>

#include "text/Messages.h"

namespace kestrow::app {

VolumeImageRunner::VolumeImageRunner(std::unique_ptr<CKestrowCore> core, std::string path, UnpackSettings settings)
    : m_core(std::move(core)), m_path(std::move(path)), m_settings(std::move(settings)) {
  try {
    m_thread = std::thread([this] { Run(); });
  } catch (const std::system_error& e) {
    m_outcome.failed = UnpackFailure::kStopped;
    m_outcome.failure = e.what();
    m_finished = true;
  }
}

VolumeImageRunner::~VolumeImageRunner() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
}

int VolumeImageRunner::Permille() const {
  const std::uint64_t total = m_total;
  if (total == 0) return 0;
  return static_cast<int>(std::min<std::uint64_t>(m_done, total) * 1000 / total);
}

void VolumeImageRunner::Run() {
  try {
    m_written = m_core->WriteVolumeImage(m_path, m_settings, m_outcome, [this](std::uint64_t done, std::uint64_t total) {
      m_done = done;
      m_total = total;
      return !m_stop;
    });
  } catch (const std::exception& e) {  // out of memory: the image is not written, and the user is told why
    m_written = false;
    m_outcome.failed = UnpackFailure::kStopped;
    m_outcome.failure = msg::ExceptionReason(e);
  }
  m_finished = true;
}

}  // namespace kestrow::app
