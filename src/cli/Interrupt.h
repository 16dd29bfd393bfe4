// Ctrl-C during a long job: the job is asked to stop after the file in
// hand instead of the program being killed in the middle of a write.
#pragma once

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

}  // namespace kestrow::cli
