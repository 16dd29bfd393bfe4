#include "Interrupt.h"

#include <atomic>
#include <csignal>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace kestrow::cli {
namespace {

// Set from a signal handler (Linux) or from the console's own thread
// (Windows): a lock-free atomic is safe in both.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

#if defined(_WIN32)
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;  // closing, logoff: as usual
  // A second Ctrl-C ends the program at once, as the system would.
  if (g_interrupted.exchange(true)) return FALSE;
  return TRUE;
}
#else
void OnInterrupt(int) {
  if (!g_interrupted.exchange(true)) return;
  // A second Ctrl-C ends the program at once, as it would without us.
  signal(SIGINT, SIG_DFL);
  raise(SIGINT);
}
#endif

}  // namespace

InterruptGuard::InterruptGuard() {
  g_interrupted = false;
#if defined(_WIN32)
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESTART;  // a write to a slow pipe goes on; the job stops after it
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &m_previous);
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  pthread_sigmask(SIG_UNBLOCK, &interrupt, &m_previousMask);
#endif
}

InterruptGuard::~InterruptGuard() {
#if defined(_WIN32)
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
#else
  pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
  sigaction(SIGINT, &m_previous, nullptr);
#endif
}

bool InterruptRequested() { return g_interrupted; }

const std::atomic<bool>& InterruptFlag() { return g_interrupted; }

}  // namespace kestrow::cli
