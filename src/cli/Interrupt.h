// Ctrl-C during a long job: the job is asked to stop before its next read
// instead of the program being killed in the middle of a write; a second
// Ctrl-C ends the program at once.
#pragma once

#include <atomic>

#if !defined(_WIN32)
#include <csignal>
#endif

namespace kestrow::cli {

// While one lives, Ctrl-C (and on Windows Ctrl-Break) only sets the flag
// that InterruptRequested() reads. SIGINT is also unblocked for as long: a
// program started with it blocked (some job runners and service managers
// pass such a mask on) would otherwise never hear Ctrl-C.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
#if !defined(_WIN32)
  struct sigaction m_previous {};
  sigset_t m_previousMask{};
#endif
};

bool InterruptRequested();
// The flag itself, for a core that stops its reads when it is set.
const std::atomic<bool>& InterruptFlag();

}  // namespace kestrow::cli
