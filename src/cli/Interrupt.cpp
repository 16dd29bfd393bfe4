#include "Interrupt.h"

#include <atomic>
#include <csignal>

#if defined(_WIN32)
#include <windows.h>
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
  g_interrupted = true;
  return TRUE;
}
#else
void OnInterrupt(int) { g_interrupted = true; }
#endif

}  // namespace

InterruptGuard::InterruptGuard() {
  g_interrupted = false;
#if defined(_WIN32)
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  m_previous = std::signal(SIGINT, OnInterrupt);
#endif
}

InterruptGuard::~InterruptGuard() {
#if defined(_WIN32)
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
#else
  std::signal(SIGINT, m_previous);
#endif
}

bool InterruptRequested() { return g_interrupted; }

}  // namespace kestrow::cli
