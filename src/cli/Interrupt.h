// Ctrl-C during a long job: the job is asked to stop after the file in
// hand instead of the program being killed in the middle of a write.
#pragma once

namespace kestrow::cli {

// While one lives, Ctrl-C (and on Windows Ctrl-Break) only sets the flag
// that InterruptRequested() reads.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  void (*m_previous)(int) = nullptr;
};

bool InterruptRequested();

}  // namespace kestrow::cli
