#include "Console.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace kestrow::cli {

#if defined(_WIN32)

ConsoleSession::ConsoleSession() {
  m_outputCodePage = GetConsoleOutputCP();
  if (m_outputCodePage != 0) SetConsoleOutputCP(CP_UTF8);
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(error, &mode) &&
      SetConsoleMode(error, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
    m_errorMode = mode;
    m_errorModeChanged = true;
  }
}

ConsoleSession::~ConsoleSession() {
  if (m_outputCodePage != 0) SetConsoleOutputCP(m_outputCodePage);
  if (m_errorModeChanged) SetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), m_errorMode);
}

bool StderrIsTerminal() {
  // A console that takes escape sequences; a file, a pipe or NUL is none.
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

#else

ConsoleSession::ConsoleSession() = default;
ConsoleSession::~ConsoleSession() = default;

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

#endif

}  // namespace kestrow::cli
