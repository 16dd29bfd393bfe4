#include "RescueStatusLines.h"

#include <cstdio>
#include <ostream>

#include "Commands.h"
#include "ProgressLine.h"

namespace kestrow::cli {
namespace {

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string Rate(double bytesPerSecond) { return FormatBytes(bytesPerSecond) + "/s"; }

double Percent(const RescueStatus& s) {
  return s.rangeBytes > 0 ? 100.0 * static_cast<double>(s.rescued) / static_cast<double>(s.rangeBytes) : 0;
}

std::string Remaining(const RescueStatus& s) {
  return s.remaining.count() > 0 ? FormatClock(Seconds(s.remaining)) : "n/a";
}

// Three columns of label and value.
std::string Row(const char* a, const std::string& va, const char* b, const std::string& vb, const char* c,
                const std::string& vc) {
  char text[256];
  std::snprintf(text, sizeof text, "%12s %10s  %12s %10s  %16s %9s", a, va.c_str(), b, vb.c_str(), c, vc.c_str());
  return text;
}

// The first column, and one label: value over the other two.
std::string WideRow(const char* a, const std::string& va, const char* b, const std::string& vb) {
  char text[256];
  std::snprintf(text, sizeof text, "%12s %10s  %41s %9s", a, va.c_str(), b, vb.c_str());
  return text;
}

std::string Cut(std::string line, std::size_t width) {
  if (width > 1 && line.size() >= width) line.resize(width - 1);
  return line;
}

}  // namespace

std::string RescueStageText(const RescueStatus& s) {
  const char* direction = s.forward ? "(forwards)" : "(backwards)";
  switch (s.stage) {
    case RescueStage::kCopying:
      return "Copying non-tried blocks... Pass " + std::to_string(s.pass) + " " + direction;
    case RescueStage::kTrimming:
      return std::string("Trimming failed blocks... ") + direction;
    case RescueStage::kScraping:
      return std::string("Scraping failed blocks... ") + direction;
    case RescueStage::kRetrying:
      return "Retrying bad sectors... Retry " + std::to_string(s.pass) + " " + direction;
    case RescueStage::kFinished:
      return "Finished";
  }
  return {};
}

std::vector<std::string> FormatRescueStatus(const RescueStatus& s, std::size_t width) {
  char percent[32];
  std::snprintf(percent, sizeof percent, "%.2f%%", Percent(s));
  const std::vector<std::string> lines = {
      Row("pos:", "LBA " + std::to_string(s.position), "non-trimmed:", FormatBytes(static_cast<double>(s.nonTrimmed)),
          "current rate:", Rate(s.currentRate)),
      Row("non-tried:", FormatBytes(static_cast<double>(s.nonTried)), "non-scraped:",
          FormatBytes(static_cast<double>(s.nonScraped)), "average rate:", Rate(s.averageRate)),
      Row("rescued:", FormatBytes(static_cast<double>(s.rescued)), "bad-sector:",
          FormatBytes(static_cast<double>(s.bad)), "run time:", FormatClock(Seconds(s.runTime))),
      Row("pct rescued:", percent, "bad areas:", std::to_string(s.badAreas), "remaining time:", Remaining(s)),
      WideRow("read errors:", std::to_string(s.readErrors), "time since last good read:",
              FormatClock(Seconds(s.sinceLastGoodRead))),
      RescueStageText(s),
  };
  std::vector<std::string> cut;
  for (const std::string& line : lines) cut.push_back(Cut(line, width));
  return cut;
}

std::string FormatRescueStatusLine(const RescueStatus& s) {
  char percent[32];
  std::snprintf(percent, sizeof percent, "%.2f%%", Percent(s));
  return "kestrow: " + RescueStageText(s) + " at LBA " + std::to_string(s.position) + ": rescued " +
         FormatBytes(static_cast<double>(s.rescued)) + " (" + percent + "), non-tried " +
         FormatBytes(static_cast<double>(s.nonTried)) + ", non-trimmed " +
         FormatBytes(static_cast<double>(s.nonTrimmed)) + ", non-scraped " +
         FormatBytes(static_cast<double>(s.nonScraped)) + ", bad " + FormatBytes(static_cast<double>(s.bad)) +
         " in " + std::to_string(s.badAreas) + " area(s), " + std::to_string(s.readErrors) + " read error(s), " +
         Rate(s.currentRate) + " now, " + Rate(s.averageRate) + " on average, run time " +
         FormatClock(Seconds(s.runTime)) + ", " + Remaining(s) + " left, " + FormatClock(Seconds(s.sinceLastGoodRead)) +
         " since the last good read";
}

RescueStatusDisplay::RescueStatusDisplay(std::ostream& err, bool terminal, std::chrono::steady_clock::duration logInterval)
    : m_err(err), m_terminal(terminal), m_logInterval(logInterval), m_nextLog(logInterval) {}

void RescueStatusDisplay::Show(const RescueStatus& status) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (!m_terminal) {
    if (status.runTime < m_nextLog) return;
    m_err << FormatRescueStatusLine(status) << '\n' << std::flush;
    while (m_nextLog <= status.runTime) m_nextLog += m_logInterval;
    return;
  }
  const std::vector<std::string> lines = FormatRescueStatus(status, TerminalWidth());
  std::string text = "\r";
  // Back to the block's first line; a block that grew or shrank is drawn anew below.
  if (m_linesShown > 1) text += "\x1b[" + std::to_string(m_linesShown - 1) + "A";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text += "\x1b[K" + lines[i];
    if (i + 1 < lines.size()) text += "\n";
  }
  m_err << text << std::flush;
  m_linesShown = lines.size();
}

void RescueStatusDisplay::Finish() {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_terminal && m_linesShown > 0) m_err << '\n' << std::flush;
  m_linesShown = 0;
}

}  // namespace kestrow::cli
