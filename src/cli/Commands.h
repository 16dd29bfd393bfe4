// The kestrow commands. Each returns the process exit code: 0 on success or
// a positive answer, 1 when the operation failed or the answer is negative.
// Results go to `out`, failures and negative answers to `err`.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "drive/ReadPolicy.h"
#include "recovery/RecoveryJob.h"
#include "text/CodePage.h"
#include "Spans.h"
#include "volume/FileEntry.h"
#include "volume/CatalogScan.h"
#include "volume/VolumeImage.h"

namespace kestrow {
struct ReadStatistics;
struct DamageReport;
struct UnpackOutcome;
}

namespace kestrow {
class CKestrowCore;
}

namespace kestrow::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// The advice after a failure whose cause may look like something else: an
// unreadable end of the disc looks like a disc of another format, and a job
// that ends at one bad sector could have gone on.
inline constexpr char kLastSectorsHint[] =
    "kestrow: the disc's last sectors could not be read; --keep-going looks for the files in the packed copy";
inline constexpr char kStoppedAtSectorHint[] =
    "kestrow: it stopped at a sector that could not be read; --keep-going goes on past such sectors, and "
    "dump --rescue-map images the disc once, keeping what was read, for every later run";

struct SourceOptions {
  std::string source;   // device path or disc image; empty = first optical drive
  std::string mapfile;  // GNU ddrescue mapfile for an image, optional
  bool noMapfile = false;  // --no-mapfile: not even the map beside the image
};

// Without --mapfile or --no-mapfile, an image SOURCE is read through the map
// beside it when there is one ("rescued.map", else "rescued.bin.map"), and
// `err` says so: "kestrow: reading rescued.bin through rescued.map".
void UseMapBesideImage(SourceOptions& source, std::ostream& err);

struct ListOptions {
  std::string outputFile;  // the file list export, CR LF lines (the names' own bytes)
  bool keepGoing = false;  // --keep-going
  std::int32_t retries = 0;  // --retries N
  bool json = false;
  bool macRoman = false;   // names shown as Mac OS Roman rather than Windows-1252
  bool deleted = false;    // --deleted: the files of freed catalogue nodes too, marked
};

struct InfoOptions {
  bool macRoman = false;  // the volume name shown as Mac OS Roman
  bool keepGoing = false;  // --keep-going
  std::int32_t retries = 0;  // --retries N
};

struct RecoverOptions {
  std::string destination;            // -o DIR
  bool all = false;                   // --all
  std::vector<std::string> patterns;  // shell-style globs on the display path
  bool resourceForks = false;         // --resource-forks: full AppleDouble companions and dates
  bool macRoman = false;              // --mac-roman: names read as Mac OS Roman
  bool deleted = false;               // --deleted: deleted files may be chosen too
  bool keepGoing = false;             // --keep-going
  std::int32_t retries = 0;           // --retries N
  std::string reportFile;             // --report FILE (JSON)
};

struct ScanOptions {
  bool json = false;          // --json
  bool keepGoing = false;     // --keep-going: the packed copy and a group search where the disc's end is gone
  std::int32_t retries = 0;   // --retries N
  bool macRoman = false;      // --mac-roman: names read as Mac OS Roman
};

struct UnpackOptions {
  std::string outputFile;     // -o FILE: the volume image
  bool keepGoing = false;     // --keep-going: lost blocks are zeros, and reported
  std::int32_t retries = 0;   // --retries N
  std::string reportFile;     // --report FILE (JSON)
};

struct DumpOptions {
  std::string outputFile;  // -o FILE
  std::string start;       // an LBA (counted from 0), as typed; empty = 0
  std::string end;         // an LBA, inclusive, as typed; empty = the last sector
  std::string rescueMap;   // --rescue-map MAP: a resumable whole-disc rescue
  int retries = 0;         // --retries N, with --rescue-map
  // With --rescue-map, GNU ddrescue's pass control:
  bool noTrim = false;     // --no-trim
  bool noScrape = false;   // --no-scrape
  bool reverse = false;    // --reverse
  std::string skipSize;    // --skip-size MIN[,MAX], in sectors, as typed
  int timeout = 0;         // --timeout SECONDS; 0 = none
};

// Parses --skip-size's "MIN", "MIN,MAX" or ",MAX" (sectors); empty when it
// is valid, otherwise what is wrong with it.
std::string ParseSkipSize(const std::string& text, std::uint32_t& min, std::uint32_t& max);

// "1959 bytes", "48.2 kB", "3.0 MB", "1.25 GB" (powers of ten).
std::string FormatBytes(double bytes);

// The last line of recover and dump: "read 1234 sectors in 56 READ CD
// commands, wrote 2.9 MB in 0.41 s (7.1 MB/s), 2 repaired, 1 unreadable",
// with MB = 1,000,000 bytes; "repaired" counts the sectors mended from their
// parity, `unreadable` the sectors the job could not read in the end; when
// sectors had no EDC to be checked by, ", 12 without EDC" follows.
std::string FormatReadReport(const ReadStatistics& stats, std::uint64_t bytesWritten, double seconds,
                             std::uint64_t unreadable);

class Commands {
 public:
  Commands(std::ostream& out, std::ostream& err) : m_out(out), m_err(err) {}

  // --verbose: the groups found by search are listed one by one, not only counted.
  void SetVerbose(bool verbose) { m_verbose = verbose; }

  int Drives();
  int Check(const SourceOptions& source);
  int Size(const SourceOptions& source);
  int List(const SourceOptions& source, const ListOptions& options);
  int Info(const SourceOptions& source, const InfoOptions& options);
  int Recover(const SourceOptions& source, const RecoverOptions& options);
  int Dump(const SourceOptions& source, const DumpOptions& options);
  int Scan(const SourceOptions& source, const ScanOptions& options);
  int Unpack(const SourceOptions& source, const UnpackOptions& options);

  // The last words of every command that read sectors for their data: how
  // many held nothing but zeros, and the hint for a rescue image; nothing
  // when none did. On `err`.
  void ReportZeroSectors();

  // A file's path as `list` prints it (UTF-8), for every report that names files.
  static std::string ShownPath(const FileEntry& entry, CodePage codePage = CodePage::kWindows1252);

 private:
  // The drive-selection step every command takes first: finds the source
  // (the first optical drive when none is given) and checks that it holds a
  // disc of at least 2 sectors. On failure it has told the user why.
  struct Selected {
    std::string source;
    std::int32_t sectorCount;
  };
  std::optional<Selected> SelectSource(const SourceOptions& options);
  // What loading the file table found of the volume besides its files.
  struct LoadedVolume {
    ListedVolume volume;
    std::size_t lostCatalogNodes = 0;
    std::vector<std::int32_t> unreadable;  // keep-going: sectors of the volume area read as zeros
    SalvageFacts salvage;                  // keep-going: where the metadata and the groups came from
  };
  // Loads the volume area and scans the catalogue, with the file list's
  // messages on failure (and a detail line naming the sector that failed).
  // With `includeDeleted`, deleted files follow the live ones, marked.
  // With policy.keepGoing, unreadable sectors of the area read as zeros and
  // the catalogue nodes they touch are passed over, and the packed copy of
  // the volume stands in for what the volume area lost (all of it when the
  // disc's end cannot be read).
  std::optional<FileTable> LoadFileTable(const Selected& selected, const SourceOptions& options,
                                         const ReadPolicy& policy = {}, LoadedVolume* loaded = nullptr,
                                         bool includeDeleted = false);
  // ScanCatalog, with the message when it fails: an unknown format, or a
  // catalogue too damaged to list (the reason why it could not go on).
  bool ScanCatalogOrSayWhy(CKestrowCore& core, const VolumeImage& image, FileTable& files,
                           const std::vector<ByteSpan>& unreadable, std::size_t& lostNodes, bool includeDeleted);
  // info: the catalogue's records, or the message saying why they could not be read.
  bool ScanRecordsOrSayWhy(std::span<const std::uint8_t> image, const std::vector<ByteSpan>& unreadable,
                           CatalogRecords& records);
  // info --keep-going: the same facts, from the volume area or the packed copy.
  int SalvagedInfo(CKestrowCore& core, const InfoOptions& info);
  // LoadFileTable with keep-going: the volume from the area and the packed copy.
  std::optional<FileTable> LoadSalvagedFileTable(CKestrowCore& core, const ReadPolicy& policy, LoadedVolume* loaded,
                                                 bool includeDeleted);
  // Keep-going: where the metadata came from, the groups found by search,
  // the catalogue nodes and sectors lost; on m_err. False when files may be
  // missing from the list.
  bool ReportSalvagedList(const LoadedVolume& loaded);
  // The damaged and lost files of a report, one line each, and the
  // unreadable sectors; on `out`.
  void PrintDamage(std::ostream& out, const DamageReport& report);
  void Fail(const std::string& message, const std::string& detail = {});
  // Keeps what a core's reads met that the command's end reports (the
  // sectors that came back all zeros).
  void Note(const CKestrowCore& core);
  // The message for a volume area that could not be loaded: the disc change,
  // the read failure of an area whose trailer was found (the disc is ours),
  // or no trailer (with the last sector named when it could not be read).
  // Without keep-going, an unreadable trailer or volume area adds the hint
  // to go on with the packed copy.
  void FailVolumeLoad(const CKestrowCore& core, const VolumeAreaRead& area, bool keepGoing = false);
  // A file a command will create, replace or rename over, and what it is for.
  struct PlannedOutput {
    std::string path;
    const char* role;  // "the image", "the rescue map", ...
  };
  // Refuses, with a message, an output file that is one of the files the
  // source is read from or another of the outputs; true when none is. Call
  // before opening any output.
  bool OutputsSpareTheSource(const Selected& selected, const SourceOptions& options,
                             const std::vector<PlannedOutput>& outputs);
  int RescueDump(const Selected& selected, const SourceOptions& source, const DumpOptions& options);
  // unpack: the message of an image that could not be written.
  void FailUnpack(const CKestrowCore& core, const UnpackOutcome& outcome, const std::string& image);
  int ReportRecovery(const RecoveryOutcome& outcome, const std::vector<FileEntry>& chosen,
                     const std::string& destination, const RecoverOptions& options);

  std::ostream& m_out;
  std::ostream& m_err;
  std::set<std::int32_t> m_zeroSectors;
  bool m_verbose = false;
};

// The first line of recover's report: "Recovered N of M file(s) (B bytes)
// into DIR" when every chosen file is whole, else "Recovered N of M
// file(s): W whole, D damaged, L lost, U not written".
std::string RecoveredLine(const RecoveryOutcome& outcome, std::size_t chosen, const std::string& destination);

// The sectors `spans` cover.
std::uint64_t SectorsIn(const std::vector<SectorSpan>& spans);

}  // namespace kestrow::cli
