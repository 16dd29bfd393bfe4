// Writes a disc's volume image on a thread of its own with a core of its
// own, so the file list stays responsive; the dialog polls it on a timer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "KestrowCore.h"
#include "recovery/VolumeUnpack.h"

namespace kestrow::app {

class VolumeImageRunner {
 public:
  // Starts writing the image of `core`'s disc to `path`; a thread that
  // cannot start ends it at once.
  VolumeImageRunner(std::unique_ptr<CKestrowCore> core, std::string path, UnpackSettings settings);
  // Asks a running unpack to stop (nothing is written then) and waits for it.
  ~VolumeImageRunner();
  VolumeImageRunner(const VolumeImageRunner&) = delete;
  VolumeImageRunner& operator=(const VolumeImageRunner&) = delete;

  bool Finished() const { return m_finished; }
  // Parts per thousand of the volume's bytes, as far as known.
  int Permille() const;
  // Valid once Finished(): whether the image is in place, and what was found.
  bool Written() const { return m_written; }
  const UnpackOutcome& Result() const { return m_outcome; }
  const std::string& Path() const { return m_path; }
  // The sectors that came back all zeros (a rescue image's holes).
  std::size_t ZeroSectors() const { return m_core->GetZeroSectors().size(); }

 private:
  void Run();

  std::unique_ptr<CKestrowCore> m_core;
  const std::string m_path;
  const UnpackSettings m_settings;
  UnpackOutcome m_outcome;
  bool m_written = false;
  std::atomic<bool> m_finished{false};
  std::atomic<bool> m_stop{false};
  std::atomic<std::uint64_t> m_done{0};
  std::atomic<std::uint64_t> m_total{0};
  std::thread m_thread;  // last: starts once the members above exist
};

}  // namespace kestrow::app
