// The terminal side of the command, the same on every platform: output as
// UTF-8, and whether standard error shows a progress line.
#pragma once

namespace kestrow::cli {

// For the life of the program: on Windows the console shows the UTF-8 the
// program writes and understands the progress line's escape sequences; the
// console's own settings come back at the end.
class ConsoleSession {
 public:
  ConsoleSession();
  ~ConsoleSession();
  ConsoleSession(const ConsoleSession&) = delete;
  ConsoleSession& operator=(const ConsoleSession&) = delete;

 private:
  // What the console had before (Windows only).
  [[maybe_unused]] unsigned m_outputCodePage = 0;
  [[maybe_unused]] unsigned long m_errorMode = 0;
  [[maybe_unused]] bool m_errorModeChanged = false;
};

// Whether standard error is a terminal that can show a progress line
// rewritten in place ('\r' and "ESC [K").
bool StderrIsTerminal();

}  // namespace kestrow::cli
