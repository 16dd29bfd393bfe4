#include "ProgressLine.h"

#include "Commands.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "rawtools/StatusTimer.h"

namespace kestrow::cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(250);
constexpr auto kTimerInterval = std::chrono::milliseconds(500);

}  // namespace

std::string FormatClock(double seconds) {
  const auto total = static_cast<unsigned long long>(seconds < 0 ? 0 : seconds);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", total / 60, total % 60);
  }
  return text;
}

namespace {

// "48.2 kB" (as the end line counts bytes), or a count of sectors.
std::string Amount(double value, bool bytes) {
  if (bytes) return FormatBytes(value);
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", value);
  return text;
}

}  // namespace

std::size_t TerminalWidth() {
#if defined(_WIN32)
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) && info.dwSize.X > 0) {
    return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
  }
#elif defined(TIOCGWINSZ)
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
  return 80;
}

std::string FormatProgress(const ProgressFigures& f, double elapsed, std::size_t width) {
  const double done = static_cast<double>(f.done);
  const double total = static_cast<double>(f.total);
  std::string line;
  char text[64];
  if (f.total > 0) {
    std::snprintf(text, sizeof text, "%5.1f%%  ", 100.0 * std::min(done, total) / total);
    line += text;
    line += Amount(done, f.bytes) + " of " + Amount(total, f.bytes) + (f.bytes ? "" : " sectors");
  } else {
    line += Amount(done, f.bytes) + (f.bytes ? "" : " sectors");
  }
  const double rate = elapsed > 0 ? done / elapsed : 0;
  line += "  " + Amount(rate, f.bytes) + (f.bytes ? "/s" : " sectors/s");
  line += "  " + FormatClock(elapsed) + " elapsed";
  if (f.total > 0 && rate > 0) line += ", " + FormatClock((total - std::min(done, total)) / rate) + " left";
  if (f.unreadable > 0) line += "  " + std::to_string(f.unreadable) + " unreadable";
  if (!f.item.empty()) line += "  " + f.item;
  // A line that wraps could not be redrawn in place; the item is cut first.
  if (width > 1 && line.size() >= width) {
    std::size_t cut = width - 1;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
    line.resize(cut);
  }
  return line;
}

ProgressLine::ProgressLine(std::ostream& err, bool enabled) : m_err(err), m_enabled(enabled) {}

ProgressLine::~ProgressLine() {
  if (m_timer) m_timer->Stop();
}

void ProgressLine::Update(const ProgressFigures& figures) {
  if (!m_enabled) return;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    const auto now = std::chrono::steady_clock::now();
    // The first line, and the first that knows the total, are drawn at once.
    const bool totalNew = figures.total > 0 && !m_totalShown;
    const bool shown = m_figures.has_value();
    m_figures = figures;
    if (!shown || totalNew || now - m_drawn >= kRedrawInterval) Draw(now);
  }
  if (!m_timer) m_timer = std::make_unique<StatusTimer>(kTimerInterval, [this] { Tick(); });
}

void ProgressLine::Tick() {
  std::lock_guard<std::mutex> lock(m_lock);
  const auto now = std::chrono::steady_clock::now();
  if (m_figures && now - m_drawn >= kTimerInterval) Draw(now);
}

void ProgressLine::Draw(std::chrono::steady_clock::time_point now) {
  m_totalShown = m_totalShown || m_figures->total > 0;
  const std::chrono::duration<double> elapsed = now - m_started;
  m_err << "\r\x1b[K" << FormatProgress(*m_figures, elapsed.count(), TerminalWidth()) << std::flush;
  m_drawn = now;
}

void ProgressLine::Clear() {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_enabled && m_figures) m_err << "\r\x1b[K" << std::flush;
  m_figures.reset();
}

}  // namespace kestrow::cli
