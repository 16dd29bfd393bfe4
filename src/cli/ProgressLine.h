// One line of progress on a terminal, redrawn in place at most a few times
// a second: percent done, rate, elapsed and remaining time, unreadable
// sectors so far, and the item in hand. A timer redraws it every half
// second too, so that its clocks move while a read hangs.
//
//    42.0%  12.3 of 29.3 MB  2.1 MB/s  0:05 elapsed, 0:08 left  3 unreadable  Disk:Photos:big
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace kestrow::cli {

struct ProgressFigures {
  std::uint64_t done = 0;
  std::uint64_t total = 0;     // 0 while not known
  bool bytes = true;           // done and total count bytes, else sectors
  std::uint64_t unreadable = 0;
  std::string item;            // the file in hand, printable
};

// The line for `figures` after `elapsed` seconds, cut to `width` columns.
std::string FormatProgress(const ProgressFigures& figures, double elapsed, std::size_t width);
// "0:42", "12:05", "1:02:03".
std::string FormatClock(double seconds);
// The columns of the terminal standard error writes to (80 when unknown).
std::size_t TerminalWidth();

}  // namespace kestrow::cli

namespace kestrow {
class StatusTimer;
}

namespace kestrow::cli {

class ProgressLine {
 public:
  // Draws only when `enabled` (standard error is a terminal).
  ProgressLine(std::ostream& err, bool enabled);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  // Redraws the line, unless it was drawn less than a quarter second ago.
  void Update(const ProgressFigures& figures);
  // Clears the line (and leaves the cursor at its start); the timer draws
  // nothing until the next Update.
  void Clear();
  bool Enabled() const { return m_enabled; }

 private:
  // Draws the figures shown last with the time now; the lock is held.
  void Draw(std::chrono::steady_clock::time_point now);
  void Tick();

  std::mutex m_lock;  // the timer's thread draws too
  std::ostream& m_err;
  bool m_enabled;
  std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point m_drawn{};
  std::optional<ProgressFigures> m_figures;  // what the line shows; empty when cleared
  bool m_totalShown = false;
  std::unique_ptr<StatusTimer> m_timer;  // started with the first line
};

}  // namespace kestrow::cli
