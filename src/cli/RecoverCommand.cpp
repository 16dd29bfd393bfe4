// kestrow recover: copies files out of a Kestrow PRO disc through the same
// recovery job and worker as the desktop application.
#include <chrono>
#include <filesystem>
#include <ostream>
#include <thread>

#include "Commands.h"
#include "Console.h"
#include "Interrupt.h"
#include "KestrowCore.h"
#include "platform/FileSystem.h"
#include "recovery/OutputFiles.h"
#include "text/CodePage.h"
#include "text/Glob.h"
#include "text/Messages.h"

namespace kestrow::cli {
namespace {

std::string Shown(const FileEntry& entry) { return Windows1252ToUtf8(entry.DisplayPath()); }

// The path for a message on the terminal: a control character from the disc
// (an escape sequence could rewrite the screen) is shown as '?'.
std::string Printable(const FileEntry& entry) {
  std::string text = Shown(entry);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') c = '?';
  }
  return text;
}

bool Matches(const std::vector<std::string>& patterns, const std::string& displayPath) {
  for (const std::string& pattern : patterns) {
    if (GlobMatches(pattern, displayPath)) return true;
  }
  return false;
}

}  // namespace

int Commands::Recover(const SourceOptions& source, const RecoverOptions& options) {
  const auto selected = SelectSource(source);
  if (!selected) return kExitFailed;
  const std::optional<FileTable> table = LoadFileTable(*selected, source);
  if (!table) return kExitFailed;

  // Rows in table order, as the file list dialog hands over its selection.
  std::vector<FileEntry> chosen;
  std::vector<std::size_t> rows;
  for (std::size_t i = 0; i < table->size(); ++i) {
    if (options.all || Matches(options.patterns, Shown((*table)[i]))) {
      chosen.push_back((*table)[i]);
      rows.push_back(i);
    }
  }
  if (chosen.empty()) {
    Fail(msg::kSelectFiles, table->empty() ? "the disc holds no file" : "no file matches the pattern(s)");
    return kExitFailed;
  }

  std::error_code ec;
  std::filesystem::create_directories(PathFromUtf8(options.destination), ec);
  std::string problem = ec ? ec.message() : std::string();
  const std::filesystem::path folder = std::filesystem::absolute(PathFromUtf8(options.destination), ec);
  if (problem.empty() && (ec || !std::filesystem::is_directory(folder))) problem = "not a folder";
  std::string destination = Utf8FromPath(folder);
  // A folder that cannot take files is refused before the disc is read.
  if (problem.empty()) CanCreateFilesIn(destination, problem);
  if (!problem.empty()) {
    Fail("Error: the destination folder cannot be used.", options.destination + ": " + problem);
    return kExitFailed;
  }
  if (destination.empty() || destination.back() != PathSeparator()) destination += PathSeparator();

  CKestrowCore core(selected->source, source.mapfile);
  const auto started = std::chrono::steady_clock::now();
  const bool showProgress = StderrIsTerminal();
  {
    InterruptGuard guard;
    bool stopAsked = false;
    core.StartRecovery(chosen, destination);
    for (;;) {
      if (InterruptRequested() && !stopAsked) {
        stopAsked = true;
        if (showProgress) m_err << '\n';
        m_err << "kestrow: stopping after the file in hand...\n";
        core.RequestStop();
      }
      const RecoveryOutcome outcome = core.GetRecoveryOutcome();
      if (outcome.Ended()) break;
      if (showProgress) {
        const std::size_t k = std::min(outcome.currentFile, chosen.size() - 1);
        m_err << "\r\x1b[K[" << k + 1 << '/' << chosen.size() << "] " << Printable(chosen[k]) << "  ("
              << outcome.bytesWritten << " bytes written)" << std::flush;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    core.WaitForRecovery();
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  if (showProgress) m_err << "\r\x1b[K" << std::flush;
  const RecoveryOutcome outcome = core.GetRecoveryOutcome();
  const int code = ReportRecovery(outcome, chosen, destination);
  m_out << FormatReadReport(core.GetReadStatistics(), outcome.bytesWritten, elapsed.count()) << '\n';
  return code;
}

int Commands::ReportRecovery(const RecoveryOutcome& outcome, const std::vector<FileEntry>& chosen,
                             const std::string& destination) {
  m_out << "Recovered " << outcome.written << " of " << chosen.size() << " file(s) ("
        << outcome.bytesWritten << " bytes) into " << destination << '\n';
  for (std::size_t k = 0; k < outcome.unwritten.size(); ++k) {
    m_err << "Not written: " << Printable(chosen[outcome.unwritten[k]]);
    if (k < outcome.unwrittenReasons.size() && !outcome.unwrittenReasons[k].empty()) {
      m_err << " (" << outcome.unwrittenReasons[k] << ')';
    }
    m_err << '\n';
  }
  for (std::size_t i : outcome.incomplete) {
    m_err << "Incomplete (some bytes are missing on the disc): " << Printable(chosen[i]) << '\n';
  }
  switch (outcome.state) {
    case RecoveryState::kStopped:
      m_err << msg::kSavingTerminated << '\n';
      break;
    case RecoveryState::kFailedEarly:
      Fail(msg::kDumpFailed, "the volume area or its packed-data table could not be read");
      break;
    case RecoveryState::kFailedAtFile:
      Fail(msg::kDumpFailed, "a sector holding " + Printable(chosen[outcome.failedFile]) +
                                 " could not be read; nothing of it or of the files after it was written");
      break;
    default:
      break;
  }
  return outcome.Clean() ? kExitOk : kExitFailed;
}

}  // namespace kestrow::cli
