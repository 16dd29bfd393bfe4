// kestrow dump: raw 2352-byte sectors of a chosen range into an image file.
#include <charconv>
#include <chrono>
#include <ostream>

#include "Commands.h"
#include "Console.h"
#include "KestrowCore.h"
#include "rawtools/PhysicalDump.h"
#include "text/Messages.h"

namespace kestrow::cli {
namespace {

// Parses a sector number as the range dialog does: an unsigned decimal number.
std::optional<std::uint32_t> ParseSectorNumber(const std::string& text) {
  std::uint32_t value = 0;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto [next, error] = std::from_chars(begin, end, value);
  if (text.empty() || error != std::errc() || next != end) return std::nullopt;
  return value;
}

// The face of the dump on a terminal: the range from the options, progress on
// standard error when it is a terminal.
class TerminalDump : public DumpCallbacks {
 public:
  TerminalDump(const DumpOptions& options, std::ostream& err) : m_options(options), m_err(err) {}

  bool ChooseSectorRange(std::uint32_t sectorCount, std::uint32_t& start, std::uint32_t& end) override {
    for (const auto& [text, value] : {std::pair{&m_options.start, &start}, std::pair{&m_options.end, &end}}) {
      if (text->empty()) continue;
      const auto number = ParseSectorNumber(*text);
      if (!number) return Refuse(msg::kPositiveInteger);
      *value = *number;
    }
    const std::string problem = ValidateSectorRange(start, end, sectorCount);
    if (!problem.empty()) return Refuse(problem);
    return true;
  }
  void ShowProgress(int done, int total) override {
    if (m_terminal && (done % 64 == 0 || done + 1 == total)) {
      m_err << '\r' << FormatDumpProgress(done, total) << std::flush;
    }
  }
  void ProgressFinished() override {
    if (m_terminal) m_err << "\r\x1b[K" << std::flush;
  }
  bool RangeRefused() const { return m_refused; }

 private:
  bool Refuse(const std::string& message) {
    m_err << message << '\n';
    m_refused = true;
    return false;
  }

  const DumpOptions& m_options;
  std::ostream& m_err;
  bool m_terminal = StderrIsTerminal();
  bool m_refused = false;
};

}  // namespace

int Commands::Dump(const SourceOptions& source, const DumpOptions& options) {
  const auto selected = SelectSource(source);
  if (!selected) return kExitFailed;
  CKestrowCore core(selected->source, source.mapfile);
  TerminalDump face(options, m_err);
  const auto started = std::chrono::steady_clock::now();
  const bool completed = core.DumpSectors(options.outputFile, face);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  if (face.RangeRefused()) return kExitUsage;
  const DumpStatistics& stats = core.GetDumpStatistics();
  if (completed) {
    m_out << msg::kCompleted << '\n';
  } else {
    std::string detail = std::to_string(stats.sectorsRead) + " sector(s) written to " + options.outputFile;
    if (stats.writeFailed) detail = "writing " + options.outputFile + " failed (is the disk full?); " + detail;
    Fail(msg::kDumpFailed, detail);
  }
  m_out << FormatReadReport(core.GetReadStatistics(), stats.bytesWritten, elapsed.count()) << '\n';
  return completed ? kExitOk : kExitFailed;
}

}  // namespace kestrow::cli
