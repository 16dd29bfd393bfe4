// The rescue dump's status on standard error, as GNU ddrescue shows it: on a
// terminal a block of lines redrawn in place; otherwise one plain line now
// and then, so that a log stays readable.
//
//          pos: LBA 123456   non-trimmed:     1.2 MB      current rate: 1.2 MB/s
//    non-tried:    0 bytes   non-scraped:     3.4 MB      average rate: 1.0 MB/s
//      rescued:   612.3 MB    bad-sector:    23.5 kB          run time:      1:02
//  pct rescued:     87.50%     bad areas:          3    remaining time:      0:10
//  read errors:         12                  time since last good read:      0:03
//  Scraping failed blocks... (forwards)
#pragma once

#include <chrono>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

#include "rawtools/RescueStatus.h"

namespace kestrow::cli {

// "Copying non-tried blocks... Pass 2 (backwards)", "Retrying bad sectors... Retry 1 (forwards)".
std::string RescueStageText(const RescueStatus& status);
// The block's lines, each cut to `width` columns.
std::vector<std::string> FormatRescueStatus(const RescueStatus& status, std::size_t width);
// The same on one line, for a log.
std::string FormatRescueStatusLine(const RescueStatus& status);

class RescueStatusDisplay {
 public:
  // A block redrawn in place when `terminal`, else a line every `logInterval` of run time.
  RescueStatusDisplay(std::ostream& err, bool terminal,
                      std::chrono::steady_clock::duration logInterval = std::chrono::seconds(10));
  void Show(const RescueStatus& status);
  // Ends the display: on a terminal the last block stays, and the cursor goes below it.
  void Finish();

 private:
  std::mutex m_lock;
  std::ostream& m_err;
  bool m_terminal;
  std::chrono::steady_clock::duration m_logInterval;
  std::chrono::steady_clock::duration m_nextLog;
  std::size_t m_linesShown = 0;
};

}  // namespace kestrow::cli
