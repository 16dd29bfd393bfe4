// A whole disc: the input is a disc image of raw 2352-byte sectors. It is
// loaded, its catalogue scanned and its paths built, and its files recovered
// into a fresh scratch folder, as the Browse and Recover commands do.
//
// Properties:
// - the volume image is as long as the trailer says, and no longer than the disc;
// - no file name keeps a carriage return, and the desktop database files are left out;
// - nothing is created outside the output folder, and nothing there is a link;
// - every data file that the job reports written exists and has the catalogue's
//   logical length, every companion file is 82 bytes (or, with resource forks,
//   holds at least its header, Finder info, dates and Mac name), and a file
//   the job did not write (or never reached) leaves nothing behind;
// - the damage scan gives every file lost ranges that are ordered, apart and
//   inside its data fork, and a job that goes on past damage (every other
//   disc) finds for each file it read the same losses as the scan.
// - the search for the groups' block tables (a disc whose end is gone) gives
//   rising boundaries, one per group found or lost, the last open, and a
//   salvage of a disc whose volume area reads whole takes it as it is.
// The last byte of the input (in a sector's error correction bytes, which
// nothing reads) chooses the output options.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "KestrowCore.h"
#include "recovery/DamageScan.h"
#include "recovery/OutputFiles.h"
#include "recovery/RecoveryJob.h"
#include "recovery/SalvagedVolume.h"

namespace {

using namespace kestrow;
using fuzz::Require;
namespace fs = std::filesystem;

// Bounds that keep one run short. The job holds each file in memory at its
// catalogue length, so longer files are left out rather than allocated.
constexpr std::size_t kMaxFilesPerRun = 8;
constexpr std::uint32_t kMaxFileBytes = 1u << 20;

// Where the job puts an entry's data file, relative to the destination:
// each ':'-terminated folder of the path, then the name, each read in the
// code page and made acceptable to the file system.
std::string ExpectedRelativePath(const FileEntry& entry, CodePage codePage) {
  std::string relative;
  for (const std::string& folder : OutputFolderNames(entry.path, codePage)) relative += folder + "/";
  return relative + OutputName(entry.name, codePage);
}

// The smallest full companion: header, four entry descriptors, Finder info
// and dates, before the Mac name and the resource fork.
constexpr std::size_t kFullCompanionMinimum = 26 + 4 * 12 + 32 + 16;

void CheckTable(const FileTable& files) {
  for (const FileEntry& entry : files) {
    Require(entry.name.find('\r') == std::string::npos, "names have no carriage return");
    Require(entry.path.find('\r') == std::string::npos, "paths have no carriage return");
    Require(entry.name != "Desktop DB" && entry.name != "Desktop DF", "desktop files are left out");
    Require(entry.path.empty() || entry.path.back() == ':', "a path ends with ':'");
  }
}

// The files to recover: short ones whose output paths differ, so that each
// maps to exactly one data file. A name with " (" is left out too, since a
// job may number a repeated name that way, and so is one that begins with
// "._", which another file's companion file could share.
std::vector<FileEntry> ChooseFiles(const FileTable& files, CodePage codePage, std::vector<std::string>& paths) {
  std::vector<FileEntry> chosen;
  std::set<std::string> seen;
  for (const FileEntry& entry : files) {
    if (chosen.size() == kMaxFilesPerRun) break;
    if (entry.dataLogicalLength > kMaxFileBytes) continue;
    const std::string relative = ExpectedRelativePath(entry, codePage);
    const std::size_t slash = relative.rfind('/');
    const bool companionLike = relative.compare(slash == std::string::npos ? 0 : slash + 1, 2, "._") == 0;
    if (companionLike || relative.find(" (") != std::string::npos || !seen.insert(relative).second) continue;
    chosen.push_back(entry);
    paths.push_back(relative);
  }
  return chosen;
}

// Every file under the output folder, relative to it, with its size.
std::map<std::string, std::uintmax_t> ListOutput(const fs::path& output) {
  std::map<std::string, std::uintmax_t> found;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(output, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const fs::file_status status = it->symlink_status(ec);
    Require(!ec, "an output entry can be examined");
    Require(!fs::is_symlink(status), "no output entry is a link");
    Require(fs::is_directory(status) || fs::is_regular_file(status), "output entries are files and folders");
    if (fs::is_regular_file(status)) found[fs::relative(it->path(), output).string()] = it->file_size(ec);
  }
  Require(!ec, "the output folder can be listed");
  return found;
}

std::string CompanionOf(const std::string& relative) {
  const std::size_t slash = relative.rfind('/');
  const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  return relative.substr(0, nameAt) + "._" + relative.substr(nameAt);
}

void CheckRecovery(const std::vector<FileEntry>& chosen, const std::vector<std::string>& paths,
                   const RecoveryOptions& options, const RecoveryOutcome& outcome,
                   const fuzz::ScratchFolder& scratch) {
  Require(outcome.Ended(), "the job has ended");
  Require(scratch.OnlyOutputWasTouched(), "nothing is written outside the output folder");
  const auto found = ListOutput(scratch.Output());

  std::size_t reached = 0;  // files the job finished with
  if (outcome.state == RecoveryState::kFinished) reached = chosen.size();
  if (outcome.state == RecoveryState::kFailedAtFile) reached = outcome.failedFile;
  const std::set<std::size_t> unwritten(outcome.unwritten.begin(), outcome.unwritten.end());
  // With resource forks, a data file whose companion failed stays, reported.
  std::set<std::size_t> companionFailed;
  for (std::size_t k = 0; k < outcome.unwritten.size() && k < outcome.unwrittenReasons.size(); ++k) {
    if (outcome.unwrittenReasons[k].rfind("its companion", 0) == 0) companionFailed.insert(outcome.unwritten[k]);
  }

  std::set<std::string> expected;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    const auto data = found.find(paths[i]);
    if (i < reached && unwritten.count(i) == 0) {
      Require(data != found.end(), "a file reported written exists");
      Require(data->second == chosen[i].dataLogicalLength, "a data file has the catalogue's logical length");
    } else if (companionFailed.count(i) == 0) {
      Require(data == found.end(), "a file not written leaves no data file");
    }
    expected.insert(paths[i]);
    expected.insert(CompanionOf(paths[i]));
  }
  for (const auto& [relative, size] : found) {
    Require(expected.count(relative) == 1, "every output file belongs to a recovered entry");
    const bool isDataFile = std::find(paths.begin(), paths.end(), relative) != paths.end();
    if (isDataFile) continue;
    if (options.resourceForks) {
      Require(size >= kFullCompanionMinimum, "a full companion holds its header, Finder info and dates");
    } else {
      Require(size == kCompanionSize, "a companion file is 82 bytes");
    }
  }
}

void CheckLostRanges(const FileResult& result, std::uint64_t length) {
  std::uint64_t at = 0;
  for (const ByteSpan& span : result.lostRanges) {
    Require(span.begin >= at && span.begin < span.end && span.end <= length, "lost ranges are ordered, apart, inside");
    at = span.end + 1;
  }
  const bool all = result.lostRanges.size() == 1 && result.lostRanges[0] == ByteSpan{0, length};
  Require((result.status == FileStatus::kWhole) == result.lostRanges.empty(), "a whole file lost nothing");
  Require(result.status != FileStatus::kLost || all, "a lost file lost every byte");
}

void CheckGroupSearch(CKestrowCore& core) {
  if (!core.OpenDevice()) return;
  const GroupSearch search = core.SearchGroups(core.ReadCapacity(), ReadPolicy{});
  core.CloseDevice();
  if (search.base < 0) {
    Require(search.boundaries.empty() && search.found.empty(), "a search that finds nothing places nothing");
    return;
  }
  Require(search.boundaries.size() == search.found.size() + search.lost.size() + 1, "one boundary per group");
  Require(search.boundaries.back() == kOpenGroupEnd, "the last group found is open-ended");
  for (std::size_t k = 1; k < search.boundaries.size(); ++k) {
    Require(search.boundaries[k - 1] >= 0 && search.boundaries[k - 1] < search.boundaries[k], "boundaries rise");
  }
}

void CheckScanAndSalvage(const DamageScan& scan, const FileTable& files, const std::vector<FileEntry>& chosen,
                         const RecoveryOutcome& outcome, bool keepGoing) {
  Require(scan.results.size() == scan.files.size(), "the scan judges every file");
  for (std::size_t i = 0; i < scan.results.size(); ++i) CheckLostRanges(scan.results[i], scan.files[i].dataLogicalLength);
  Require(scan.files == files, "the scan lists what the catalogue lists");
  if (!keepGoing || outcome.state != RecoveryState::kFinished) return;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    const FileResult& got = outcome.files[i];
    if (got.status == FileStatus::kNotWritten) continue;  // the destination's doing
    const auto same = std::find(files.begin(), files.end(), chosen[i]) - files.begin();
    Require(got.status == scan.results[static_cast<std::size_t>(same)].status &&
                got.lostRanges == scan.results[static_cast<std::size_t>(same)].lostRanges,
            "the salvage loses what the scan says it loses");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto drive = std::make_unique<fuzz::RawDiscDrive>(data, size);
  const std::uint64_t discBytes = std::uint64_t{drive->Sectors()} * format::kUserDataSize;
  CKestrowCore core(std::move(drive));
  CheckGroupSearch(core);

  VolumeImage image;
  TrackTrailer trailer;
  if (!core.LoadVolumeImage(image, &trailer)) return 0;
  Require(image.size() == trailer.AreaBytes(), "the volume image is as long as the trailer says");
  Require(image.size() <= discBytes, "the volume image is no longer than the disc");

  FileTable files;
  if (!core.ScanCatalog(image, files)) return 0;
  CheckTable(files);
  SalvagedVolume salvaged;
  if (core.LoadSalvagedVolume(salvaged, ReadPolicy{0, true})) {
    Require(salvaged.source == MetadataSource::kVolumeArea && salvaged.image == image,
            "a volume area that reads whole is the salvage's metadata");
  }

  RecoveryOptions options;
  options.resourceForks = (data[size - 1] & 1) != 0;
  options.macRoman = (data[size - 1] & 2) != 0;
  std::vector<std::string> paths;
  const std::vector<FileEntry> chosen =
      ChooseFiles(files, options.macRoman ? CodePage::kMacRoman : CodePage::kWindows1252, paths);
  if (chosen.empty()) return 0;
  const fuzz::ScratchFolder scratch;
  options.keepGoing = discBytes / format::kUserDataSize % 2 == 1;
  core.StartRecovery(chosen, scratch.Destination(), options);
  core.WaitForRecovery();
  const RecoveryOutcome outcome = core.GetRecoveryOutcome();
  if (!options.keepGoing) CheckRecovery(chosen, paths, options, outcome, scratch);
  Require(scratch.OnlyOutputWasTouched(), "nothing is written outside the output folder");
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    const FileStatus status = outcome.files[i].status;
    const bool exists = fs::exists(scratch.Output() / paths[i]);
    // A file whose companion could not be written is not written, although
    // its data file stays.
    const bool companionFailed = outcome.files[i].reason.rfind("its companion", 0) == 0;
    Require(exists == (status == FileStatus::kWhole || status == FileStatus::kDamaged || companionFailed),
            "a file is on disk exactly when it is whole or damaged");
  }
  DamageScan scan;
  if (core.ScanDamage(scan, ReadPolicy{})) CheckScanAndSalvage(scan, files, chosen, outcome, options.keepGoing);
  return 0;
}
