// Ctrl-C as a request: while an InterruptGuard lives, SIGINT sets a flag
// that a long operation polls, instead of ending the program.
#pragma once

#include <csignal>

namespace kestrow::cli {

class InterruptGuard {
 public:
  InterruptGuard() {
    Flag() = 0;
    m_previous = std::signal(SIGINT, OnInterrupt);
  }
  ~InterruptGuard() { std::signal(SIGINT, m_previous); }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  static bool Interrupted() { return Flag() != 0; }

 private:
  static volatile std::sig_atomic_t& Flag() {
    static volatile std::sig_atomic_t flag = 0;
    return flag;
  }
  static void OnInterrupt(int) { Flag() = 1; }

  void (*m_previous)(int);
};

}  // namespace kestrow::cli
