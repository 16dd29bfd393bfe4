// kestrow dump: raw 2352-byte sectors of a chosen range into an image file,
// or with --rescue-map into a whole-disc image with a ddrescue mapfile.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <chrono>
#include <functional>
#include <filesystem>
#include <ostream>

#include "Commands.h"
#include "Interrupt.h"
#include "Console.h"
#include "ProgressLine.h"
#include "RescueStatusLines.h"
#include "KestrowCore.h"
#include "drive/SourceFiles.h"
#include "rawtools/PhysicalDump.h"
#include "rawtools/RescueFiles.h"
#include "text/Messages.h"
#include "volume/PackedFormat.h"

namespace kestrow::cli {
namespace {

// Parses a sector number: an unsigned decimal number.
std::optional<std::uint32_t> ParseSectorNumber(const std::string& text) {
  std::uint32_t value = 0;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto [next, error] = std::from_chars(begin, end, value);
  if (text.empty() || error != std::errc() || next != end) return std::nullopt;
  return value;
}

// The face of the dump on a terminal: the range from the options, a progress
// line on standard error when it is a terminal, or for a rescue its status.
class TerminalDump : public DumpCallbacks {
 public:
  TerminalDump(const DumpOptions& options, std::ostream& err)
      : m_options(options), m_err(err), m_progress(err, StderrIsTerminal()) {}

  // Where the progress line reads the sectors that could not be read so far.
  void CountUnreadableWith(std::function<std::uint64_t()> unreadable) { m_unreadable = std::move(unreadable); }
  // A rescue shows its status in place of the progress line.
  void ShowRescueStatusOn(RescueStatusDisplay& display) { m_rescueDisplay = &display; }

  // --start and --end are LBAs, counted from 0; the core counts from 1.
  bool ChooseSectorRange(std::uint32_t sectorCount, std::uint32_t& start, std::uint32_t& end) override {
    std::uint32_t first = 0;
    std::uint32_t last = sectorCount - 1;
    for (const auto& [text, value] : {std::pair{&m_options.start, &first}, std::pair{&m_options.end, &last}}) {
      if (text->empty()) continue;
      const auto number = ParseSectorNumber(*text);
      if (!number) return Refuse(msg::kPositiveInteger);
      *value = *number;
    }
    if (first >= sectorCount || last >= sectorCount) {
      char text[96];
      std::snprintf(text, sizeof text, msg::kIntegerBetweenFormat, 0u, sectorCount - 1);
      return Refuse(text);
    }
    if (first > last) return Refuse(kSectorRangeOrderMessage);
    start = first + 1;
    end = last + 1;
    return true;
  }
  void ShowProgress(int done, int total) override {
    if (m_rescueDisplay) return;
    const auto count = [](int n) { return static_cast<std::uint64_t>(std::max(n, 0)); };
    m_progress.Update(ProgressFigures{count(done), count(total), false, m_unreadable ? m_unreadable() : 0, {}});
  }
  void ShowRescueStatus(const RescueStatus& status) override {
    if (m_rescueDisplay) m_rescueDisplay->Show(status);
  }
  void ProgressFinished() override {
    m_progress.Clear();
    if (m_rescueDisplay) m_rescueDisplay->Finish();
  }
  // Ctrl-C, when an InterruptGuard is in place.
  bool CancelRequested() override { return InterruptRequested(); }
  bool RangeRefused() const { return m_refused; }

 private:
  bool Refuse(const std::string& message) {
    m_err << message << '\n';
    m_refused = true;
    return false;
  }

  const DumpOptions& m_options;
  std::ostream& m_err;
  ProgressLine m_progress;
  RescueStatusDisplay* m_rescueDisplay = nullptr;
  std::function<std::uint64_t()> m_unreadable;
  bool m_refused = false;
};

// What a user with a 2048-byte image (GNU ddrescue's) does instead.
constexpr char kRawImageHint[] =
    " (a rescue dump writes whole-disc images of raw 2352-byte sectors; a 2048-byte image and its GNU ddrescue map "
    "are read with --mapfile)";

// "3 sector(s) of the range are still bad, 40 not yet tried".
std::string RescueShortfall(const RescueStatistics& stats) {
  std::string text = std::to_string(stats.bad) + " sector(s) of the range are still bad";
  if (stats.untried > 0) text += ", " + std::to_string(stats.untried) + " not yet tried";
  return text;
}

}  // namespace

std::string ParseSkipSize(const std::string& text, std::uint32_t& min, std::uint32_t& max) {
  const std::size_t comma = text.find(',');
  const std::string first = text.substr(0, comma);
  const std::string second = comma == std::string::npos ? std::string() : text.substr(comma + 1);
  const auto minimum = first.empty() ? std::optional<std::uint32_t>(RescueSettings{}.skipMin) : ParseSectorNumber(first);
  const auto maximum = second.empty() ? std::optional<std::uint32_t>(0) : ParseSectorNumber(second);
  if (!minimum || !maximum || (first.empty() && second.empty())) {
    return "--skip-size takes MIN[,MAX] in sectors (numbers from 0)";
  }
  if (*maximum > 0 && *minimum > *maximum) return "--skip-size: MAX must not be smaller than MIN";
  min = *minimum;
  max = *maximum;
  return {};
}

int Commands::Dump(const SourceOptions& source, const DumpOptions& options) {
  const auto selected = SelectSource(source);
  if (!selected) return kExitFailed;
  std::vector<PlannedOutput> outputs{{options.outputFile, "the image"}};
  if (!options.rescueMap.empty()) {
    outputs.push_back({options.rescueMap, "the rescue map"});
    outputs.push_back({RescueFiles::TemporaryMapPath(options.rescueMap), "the rescue map's temporary file"});
  }
  if (!OutputsSpareTheSource(*selected, source, outputs)) return kExitUsage;
  if (!options.rescueMap.empty()) return RescueDump(*selected, source, options);
  CKestrowCore core(selected->source, source.mapfile);
  TerminalDump face(options, m_err);
  face.CountUnreadableWith([&core] { return core.GetReadStatistics().failedSingleReads; });
  const auto started = std::chrono::steady_clock::now();
  bool completed = false;
  {
    InterruptGuard guard;
    completed = core.DumpSectors(options.outputFile, face);
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  if (face.RangeRefused()) return kExitUsage;
  const DumpStatistics& stats = core.GetDumpStatistics();
  const std::string written = std::to_string(stats.bytesWritten / format::kRawSectorSize) + " sector(s) written to " +
                              options.outputFile;
  if (completed) {
    m_out << msg::kCompleted << '\n';
  } else if (stats.discChanged) {
    Fail(msg::kDiscChanged, written);
  } else if (stats.writeFailed) {
    Fail(msg::kImageWriteFailed, "writing " + options.outputFile + " failed: " + stats.writeError + "; " + written);
  } else if (stats.cancelled) {
    Fail(msg::kStopped, written);
  } else {
    Fail(msg::kDumpFailed, written);
    if (core.GetReadStatistics().failedSingleReads > 0) m_err << kStoppedAtSectorHint << '\n';
  }
  const ReadStatistics reads = core.GetReadStatistics();
  m_out << FormatReadReport(reads, stats.bytesWritten, elapsed.count(), reads.failedSingleReads) << '\n';
  return completed ? kExitOk : kExitFailed;
}

int Commands::RescueDump(const Selected& selected, const SourceOptions& source, const DumpOptions& options) {
  // The range is checked before a file is touched.
  TerminalDump face(options, m_err);
  const auto sectorCount = static_cast<std::uint32_t>(selected.sectorCount);
  std::uint32_t start = 1;
  std::uint32_t end = sectorCount;
  if (!face.ChooseSectorRange(sectorCount, start, end)) return kExitUsage;

  RescueMap map;
  RescueFiles files;
  std::string error;
  switch (files.Open(options.outputFile, options.rescueMap, sectorCount, map, error)) {
    case RescueOpenFailure::kNone:
      break;
    case RescueOpenFailure::kNotRawImage:
      Fail(msg::kNotRawImage, error + kRawImageHint);
      return kExitUsage;
    case RescueOpenFailure::kTemporaryInTheWay:
      Fail(msg::kOutputInTheWay, error + "; nothing was written");
      return kExitUsage;
    case RescueOpenFailure::kCannotOpen:
      Fail(msg::kDumpFailed, error);
      return kExitFailed;
  }
  CKestrowCore core(selected.source, source.mapfile);
  RescueStatusDisplay display(m_err, StderrIsTerminal());
  face.ShowRescueStatusOn(display);
  RescueSettings settings;
  settings.retries = options.retries;
  settings.trim = !options.noTrim;
  settings.scrape = !options.noScrape;
  settings.reverse = options.reverse;
  if (!options.skipSize.empty()) ParseSkipSize(options.skipSize, settings.skipMin, settings.skipMax);
  settings.timeout = std::chrono::seconds(options.timeout);
  const auto started = std::chrono::steady_clock::now();
  bool complete = false;
  {
    InterruptGuard guard;
    complete = core.RescueSectors(map, files, face, settings);
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  if (face.RangeRefused()) return kExitUsage;
  const RescueStatistics& stats = core.GetRescueStatistics();
  if (stats.refusal == RescueRefusal::kNotRawImage) {
    Fail(msg::kNotRawImage, options.outputFile + ": " + stats.failure + kRawImageHint);
    return kExitUsage;
  }
  if (stats.refusal == RescueRefusal::kOtherDisc) {
    Fail(msg::kOtherDiscInDrive, options.outputFile + ": " + stats.failure + "; nothing was read or written");
    return kExitFailed;
  }
  if (complete) {
    m_out << msg::kCompleted << '\n';
  } else if (stats.discChanged) {
    Fail(msg::kDiscChanged, options.rescueMap + " records what was read before");
  } else if (stats.rangeSectors == 0) {
    Fail(msg::kDumpFailed, selected.source + ": " + core.DescribeLastFailure());
  } else {
    // Only a map that was saved records anything for another run.
    std::string detail = RescueShortfall(stats) + "; " +
                         (stats.mapSaved ? options.rescueMap + " records them for another run"
                                         : options.rescueMap + " was not updated, so another run reads this run's "
                                                                 "sectors again");
    if (stats.cancelled && !stats.writeFailed) detail = "interrupted; " + detail;
    if (stats.timedOut && !stats.writeFailed) {
      detail = "no sector was read for " + std::to_string(options.timeout) + " s (--timeout); " + detail;
    }
    if (stats.writeFailed) detail = stats.failure + "; " + detail;
    Fail(stats.writeFailed ? msg::kImageWriteFailed : stats.cancelled ? msg::kStopped : msg::kDumpFailed, detail);
  }
  m_out << FormatReadReport(core.GetReadStatistics(), stats.bytesWritten, elapsed.count(), stats.bad) << '\n';
  return complete ? kExitOk : kExitFailed;
}

}  // namespace kestrow::cli
