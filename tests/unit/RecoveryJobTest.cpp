// Whole recovery jobs on real HFS volumes packed by mkdisc: the worker's
// life (status text, stop request, end), and what a damaged disc, a source
// that goes away and an unusable destination do to a job. These tests also
// run under ThreadSanitizer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <thread>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "HfsTestDisc.h"
#include "TempDir.h"
#include "drive/DiscImageTransport.h"
#include "FaultInjectingTransport.h"
#include "KestrowCore.h"
#include "recovery/DataLocation.h"
#include "drive/ScsiCommands.h"

namespace kestrow {
namespace {

namespace fs = std::filesystem;
using test::HfsDisc;
using test::MacFile;
using test::Pattern;
using test::ReadFile;
using test::TempDir;

// Seven files in two folders, 7 MB of half-compressible data: several
// groups, some shared by two files, and a file too large for a batch, whose
// blocks are decoded in parts while the rest of its groups is read.
const std::vector<MacFile>& JobFiles() {
  static const std::vector<MacFile> files = {
      {"Letters:one.txt", Pattern(300000, 1)},   {"Letters:two.txt", Pattern(700000, 2)},
      {"Letters:three.txt", Pattern(100, 3)},    {"Photos:four.pict", Pattern(900000, 4)},
      {"Photos:five.pict", Pattern(170000, 5)}, {"six", Pattern(8192, 6)},
      {"Photos:seven.mov", Pattern(5 * 1024 * 1024 + 1234, 7)},
  };
  return files;
}

const HfsDisc& JobDisc() {
  static const HfsDisc disc = [] {
    HfsDisc d;
    std::string error;
    if (!test::MakeHfsDisc(JobFiles(), mkdisc::DiscOptions{}, d, error)) ADD_FAILURE() << error;
    return d;
  }();
  return disc;
}

std::string Display(const FileEntry& e) { return e.path + e.name; }

// What a test needs to know about the disc: its files and where their data lie.
struct Loaded {
  FileTable files;
  std::vector<int> firstGroup, lastGroup;  // per file: the groups holding its data (-1: none)
  int base = 0;                            // LBA of group 0
  int volumeSector = 0;                    // first LBA of the volume area

  std::uint32_t GroupSector(int group, int sector) const {
    return static_cast<std::uint32_t>(base + group * 248 + sector);
  }
  // The first file of the job that needs `group`.
  std::size_t FirstFileNeeding(int group) const {
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (firstGroup[i] >= 0 && firstGroup[i] <= group && group <= lastGroup[i]) return i;
    }
    return files.size();
  }
};

Loaded Load(const HfsDisc& disc) {
  CKestrowCore core(test::MakeDiscFromRaw(disc.raw));
  Loaded loaded;
  VolumeImage image;
  MasterDirectoryBlock mdb;
  std::vector<std::int32_t> boundaries;
  EXPECT_TRUE(core.LoadVolumeImage(image));
  EXPECT_TRUE(core.ScanCatalog(image, loaded.files));
  EXPECT_TRUE(core.ReadMasterDirectoryBlock(image, mdb));
  EXPECT_TRUE(core.ReadPackTable(image, boundaries));
  loaded.base = GroupBaseSector(static_cast<int>(disc.layout.sectorCount), static_cast<int>(image.size()),
                                static_cast<int>(boundaries.size()));
  for (const FileEntry& e : loaded.files) {
    const ByteRange range = ForkByteRange(e, static_cast<std::int32_t>(mdb.drAlBlkSiz()));
    const bool empty = e.dataLogicalLength == 0;
    loaded.firstGroup.push_back(empty ? -1 : FindGroupIndex(boundaries, range.start));
    loaded.lastGroup.push_back(empty ? -1 : FindGroupIndex(boundaries, range.end));
  }
  loaded.volumeSector = static_cast<int>(disc.layout.volumeSectionSector);
  return loaded;
}

const std::string* Contents(const FileEntry& e) {
  for (const MacFile& f : JobFiles()) {
    if ("Disc:" + f.path == Display(e)) return &f.contents;
  }
  return nullptr;
}

fs::path OutputPath(const fs::path& dest, const FileEntry& e) {
  fs::path p = dest;
  std::string path = e.path;
  for (std::size_t colon; (colon = path.find(':')) != std::string::npos; path.erase(0, colon + 1)) {
    p /= path.substr(0, colon);
  }
  return p / e.name;
}

RecoveryOutcome RunJob(CKestrowCore& core, const FileTable& files, const std::string& dest) {
  EXPECT_TRUE(core.StartRecovery(files, dest));
  core.WaitForRecovery();
  return core.GetRecoveryOutcome();
}

TEST(RecoveryJob, CopiesEveryFileAndEndsWithAnEmptyStatus) {
  const HfsDisc& disc = JobDisc();
  const Loaded loaded = Load(disc);
  ASSERT_EQ(loaded.files.size(), JobFiles().size());
  // The faults below need files in different groups, and groups shared by two files.
  ASSERT_GE(disc.layout.groupCount, 4u);
  const std::set<int> groups(loaded.firstGroup.begin(), loaded.firstGroup.end());
  ASSERT_GE(groups.size(), 3u);
  ASSERT_TRUE(std::mismatch(loaded.firstGroup.begin(), loaded.firstGroup.end(), loaded.lastGroup.begin()).first !=
              loaded.firstGroup.end());
  TempDir dest;
  CKestrowCore core(test::MakeDiscFromRaw(disc.raw));
  ASSERT_TRUE(core.StartRecovery(loaded.files, dest.Destination()));
  // Another thread reads the status and the outcome while the worker runs.
  std::size_t lastSeen = 0;
  for (RecoveryOutcome o = core.GetRecoveryOutcome(); !o.Ended(); o = core.GetRecoveryOutcome()) {
    EXPECT_GE(o.currentFile, lastSeen) << "the file in hand went backwards";
    lastSeen = o.currentFile;
    (void)core.GetStatus();
  }
  core.WaitForRecovery();
  const RecoveryOutcome outcome = core.GetRecoveryOutcome();
  EXPECT_EQ(outcome.state, RecoveryState::kFinished);
  EXPECT_TRUE(outcome.Clean());
  EXPECT_EQ(outcome.written, loaded.files.size());
  EXPECT_EQ(core.GetStatus(), "");
  for (const FileEntry& e : loaded.files) {
    ASSERT_NE(Contents(e), nullptr) << Display(e);
    EXPECT_EQ(ReadFile(OutputPath(dest.path(), e)), *Contents(e)) << Display(e);
  }
}

TEST(RecoveryJob, StopEndsTheJobBetweenTwoFilesAndKeepsWhatWasSaved) {
  const HfsDisc& disc = JobDisc();
  const Loaded loaded = Load(disc);
  for (int attempt = 0; attempt < 8; ++attempt) {
    TempDir dest;
    CKestrowCore core(test::MakeDiscFromRaw(disc.raw));
    ASSERT_TRUE(core.StartRecovery(loaded.files, dest.Destination()));
    if (attempt % 2 == 1) std::this_thread::sleep_for(std::chrono::milliseconds(attempt));
    core.RequestStop();
    const RecoveryOutcome o = core.GetRecoveryOutcome();
    ASSERT_TRUE(o.Ended()) << "RequestStop returned while the worker ran";
    ASSERT_TRUE(o.state == RecoveryState::kStopped || o.state == RecoveryState::kFinished);
    // The files handled before the stop are whole; none after it was begun.
    for (std::size_t i = 0; i < loaded.files.size(); ++i) {
      const fs::path out = OutputPath(dest.path(), loaded.files[i]);
      if (i < o.written) {
        EXPECT_EQ(ReadFile(out), *Contents(loaded.files[i]));
      } else {
        EXPECT_FALSE(fs::exists(out)) << out;
      }
    }
    core.RequestStop();  // no worker: returns at once
  }
}

struct FaultCase {
  const char* what;
  // The LBAs to make unreadable, from the disc and what was loaded of it.
  std::function<std::vector<std::uint32_t>(const HfsDisc&, const Loaded&)> badSectors;
  RecoveryState state;
};

class RecoveryJobFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(RecoveryJobFaults, FailAtTheDamageAndKeepTheFilesBeforeIt) {
  const HfsDisc& disc = JobDisc();
  const Loaded loaded = Load(disc);
  auto faults = std::make_unique<FaultInjectingTransport>(test::MakeDiscFromRaw(disc.raw));
  const std::vector<std::uint32_t> badSectors = GetParam().badSectors(disc, loaded);
  for (std::uint32_t lba : badSectors) faults->FailReadAt(lba);
  const std::uint32_t bad = badSectors.front();
  TempDir dest;
  CKestrowCore core(std::move(faults));
  const RecoveryOutcome o = RunJob(core, loaded.files, dest.Destination());
  ASSERT_EQ(o.state, GetParam().state) << GetParam().what << " (LBA " << bad << ")";
  EXPECT_FALSE(o.Clean());
  // A bad sector in a group fails the first file that needs that group.
  const int badGroup = (static_cast<int>(bad) - loaded.base) / 248;
  const std::size_t saved = o.state == RecoveryState::kFailedAtFile ? loaded.FirstFileNeeding(badGroup) : 0;
  if (o.state == RecoveryState::kFailedAtFile) {
    EXPECT_EQ(o.failedFile, saved);
  }
  EXPECT_EQ(o.written, saved);
  for (std::size_t i = 0; i < loaded.files.size(); ++i) {
    const fs::path out = OutputPath(dest.path(), loaded.files[i]);
    if (i < saved) {
      EXPECT_EQ(ReadFile(out), *Contents(loaded.files[i])) << GetParam().what;
    } else {
      EXPECT_FALSE(fs::exists(out)) << GetParam().what << ": " << out;
    }
  }
}

std::size_t IndexOf(const Loaded& loaded, const std::string& display) {
  for (std::size_t i = 0; i < loaded.files.size(); ++i) {
    if (Display(loaded.files[i]) == display) return i;
  }
  ADD_FAILURE() << display << " is not on the disc";
  return 0;
}

INSTANTIATE_TEST_SUITE_P(
    Damage, RecoveryJobFaults,
    ::testing::Values(
        FaultCase{"the last two sectors",
                  [](const HfsDisc& d, const Loaded&) {
                    return std::vector<std::uint32_t>{d.layout.sectorCount - 1, d.layout.sectorCount - 2};
                  },
                  RecoveryState::kFailedEarly},
        FaultCase{"a sector of the volume area",
                  [](const HfsDisc&, const Loaded& l) {
                    return std::vector<std::uint32_t>{static_cast<std::uint32_t>(l.volumeSector + 3)};
                  },
                  RecoveryState::kFailedEarly},
        FaultCase{"the third file's first group",
                  [](const HfsDisc&, const Loaded& l) {
                    return std::vector<std::uint32_t>{l.GroupSector(l.firstGroup[2], 3)};
                  },
                  RecoveryState::kFailedAtFile},
        FaultCase{"the last sector of the fourth file's last group",
                  [](const HfsDisc&, const Loaded& l) {
                    return std::vector<std::uint32_t>{l.GroupSector(l.lastGroup[3], 247)};
                  },
                  RecoveryState::kFailedAtFile},
        FaultCase{"the large file's last group, after parts of it were decoded",
                  [](const HfsDisc&, const Loaded& l) {
                    const std::size_t large = IndexOf(l, "Disc:Photos:seven.mov");
                    return std::vector<std::uint32_t>{l.GroupSector(l.lastGroup[large], 200)};
                  },
                  RecoveryState::kFailedAtFile},
        FaultCase{"the last file's group",
                  [](const HfsDisc&, const Loaded& l) {
                    return std::vector<std::uint32_t>{l.GroupSector(l.lastGroup.back(), 1)};
                  },
                  RecoveryState::kFailedAtFile}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

// A wrapper that truncates the image file once a number of sectors were read,
// as if the file had been cut short while the job ran.
class TruncatingTransport : public Transport {
 public:
  TruncatingTransport(std::unique_ptr<Transport> inner, std::string file, unsigned afterReads)
      : m_inner(std::move(inner)), m_file(std::move(file)), m_afterReads(afterReads) {}
  bool Open() override { return m_inner->Open(); }
  void Close() override { m_inner->Close(); }
  bool IsOpen() const override { return m_inner->IsOpen(); }
  std::string Path() const override { return m_inner->Path(); }
  CommandResult Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                        unsigned timeoutSeconds) override {
    // READ CD's transfer length is in bytes 6-8: count sectors, not commands.
    if (cdb.size() >= 9 && cdb[0] == 0xBE && m_reads < m_afterReads &&
        (m_reads += static_cast<unsigned>(cdb[6] << 16 | cdb[7] << 8 | cdb[8])) >= m_afterReads) {
      if (::truncate(m_file.c_str(), 0) != 0) ADD_FAILURE() << "truncate failed";
    }
    return m_inner->Execute(cdb, dataIn, timeoutSeconds);
  }

 private:
  std::unique_ptr<Transport> m_inner;
  std::string m_file;
  unsigned m_afterReads;
  unsigned m_reads = 0;  // sectors asked for so far
};

std::string WriteImage(const TempDir& dir, const HfsDisc& disc) {
  const std::string path = (dir.path() / "disc.bin").string();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(disc.raw.data()),
                                              static_cast<std::streamsize>(disc.raw.size()));
  return path;
}

TEST(RecoveryJob, AnImageCutShortDuringTheJobFailsAtTheFileInHand) {
  const HfsDisc& disc = JobDisc();
  const Loaded loaded = Load(disc);
  TempDir work;
  const std::string image = WriteImage(work, disc);
  // Enough reads for the start of the job (capacity, trailer, volume area);
  // the cut then lands in some file's groups.
  const unsigned volumeReads = disc.layout.volumeSectionSectors + 2;
  auto transport = std::make_unique<TruncatingTransport>(std::make_unique<DiscImageTransport>(image), image,
                                                         volumeReads + 1);
  CKestrowCore core(std::move(transport));
  const RecoveryOutcome o = RunJob(core, loaded.files, (work.path() / "out").string() + "/");
  ASSERT_TRUE(o.state == RecoveryState::kFailedAtFile || o.state == RecoveryState::kFailedEarly);
  EXPECT_FALSE(o.Clean());
  EXPECT_LT(o.written, loaded.files.size());
  for (std::size_t i = 0; i < o.written; ++i) {
    EXPECT_EQ(ReadFile(OutputPath(work.path() / "out", loaded.files[i])), *Contents(loaded.files[i]));
  }
}

TEST(RecoveryJob, AnImageRemovedBeforeTheJobFailsEarlyAndOneRemovedDuringItStillReads) {
  const HfsDisc& disc = JobDisc();
  const Loaded loaded = Load(disc);
  {
    TempDir work;
    const std::string image = WriteImage(work, disc);
    CKestrowCore core(image);
    ASSERT_TRUE(fs::remove(image));
    const RecoveryOutcome o = RunJob(core, loaded.files, work.Destination());
    EXPECT_EQ(o.state, RecoveryState::kFailedEarly);
    EXPECT_EQ(core.GetErrorState(), kErrorCannotOpen);
  }
  {
    // An open image stays readable after its name is removed: the job ends
    // normally with every byte.
    TempDir work;
    const std::string image = WriteImage(work, disc);
    auto inner = std::make_unique<DiscImageTransport>(image);
    CKestrowCore core(std::make_unique<FaultInjectingTransport>(std::move(inner)));
    ASSERT_TRUE(core.StartRecovery(loaded.files, work.Destination()));
    fs::remove(image);
    core.WaitForRecovery();
    const RecoveryOutcome o = core.GetRecoveryOutcome();
    if (o.state == RecoveryState::kFinished) {
      EXPECT_TRUE(o.Clean());
      for (const FileEntry& e : loaded.files) EXPECT_EQ(ReadFile(OutputPath(work.path(), e)), *Contents(e));
    } else {
      // The removal came before the worker opened the image.
      EXPECT_EQ(o.state, RecoveryState::kFailedEarly);
    }
  }
}

TEST(RecoveryJob, AFileWhereAFolderMustBeLeavesThoseFilesUnwrittenAndSavesTheRest) {
  const HfsDisc& disc = JobDisc();
  const Loaded loaded = Load(disc);
  TempDir dest;
  fs::create_directories(dest.path() / "Disc");
  std::ofstream(dest.path() / "Disc" / "Photos") << "in the way";
  CKestrowCore core(test::MakeDiscFromRaw(disc.raw));
  const RecoveryOutcome o = RunJob(core, loaded.files, dest.Destination());
  EXPECT_EQ(o.state, RecoveryState::kFinished);
  EXPECT_FALSE(o.Clean());
  std::vector<std::size_t> expected{IndexOf(loaded, "Disc:Photos:four.pict"), IndexOf(loaded, "Disc:Photos:five.pict"),
                                    IndexOf(loaded, "Disc:Photos:seven.mov")};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(o.unwritten, expected);
  EXPECT_EQ(o.written, loaded.files.size() - expected.size());
  EXPECT_EQ(ReadFile(dest.path() / "Disc" / "Photos"), "in the way");
  EXPECT_EQ(ReadFile(dest.path() / "Disc" / "six"), *Contents(loaded.files[IndexOf(loaded, "Disc:six")]));
}

TEST(RecoveryJob, ALengthReachingPastTheVolumeIsReportedWithoutAllocatingIt) {
  const HfsDisc& disc = JobDisc();
  Loaded loaded = Load(disc);
  // A hostile catalogue: 4 GiB for one file, and one byte too many for another
  // (the volume is 32 MiB: 9,728 bytes then 65,516 blocks of 512).
  const std::size_t huge = IndexOf(loaded, "Disc:Letters:one.txt");
  const std::size_t over = IndexOf(loaded, "Disc:six");
  loaded.files[huge].dataLogicalLength = 0xFFFFFFF0u;
  const std::uint32_t volumeEnd = 9728 + 65516 * 512;
  loaded.files[over].dataLogicalLength = volumeEnd - (9728 + loaded.files[over].dataExtents[0].startBlock * 512) + 1;
  TempDir dest;
  CKestrowCore core(test::MakeDiscFromRaw(disc.raw));
  const RecoveryOutcome o = RunJob(core, loaded.files, dest.Destination());
  EXPECT_EQ(o.state, RecoveryState::kFinished);
  std::vector<std::size_t> expected{huge, over};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(o.unwritten, expected);
  EXPECT_EQ(o.unwrittenReasons.size(), 2u);
  EXPECT_EQ(o.written, loaded.files.size() - 2);
  EXPECT_FALSE(fs::exists(OutputPath(dest.path(), loaded.files[huge])));
}

// A folder nothing can be created in: a read-only one, or for root (whom
// permissions do not stop) the sysfs root, where even root cannot create files.
std::optional<std::string> UnwritableFolder(const TempDir& dir) {
  if (::geteuid() != 0) {
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    return dir.Destination();
  }
  if (::mkdir("/sys/kestrow-probe", 0700) != 0 && (errno == EPERM || errno == EACCES)) return "/sys/";
  return std::nullopt;
}

TEST(RecoveryJob, AReadOnlyDestinationWritesNothingAndIsNotASuccess) {
  const HfsDisc& disc = JobDisc();
  const Loaded loaded = Load(disc);
  TempDir dir;
  const std::optional<std::string> dest = UnwritableFolder(dir);
  if (!dest) GTEST_SKIP() << "no folder here refuses to be written";
  CKestrowCore core(test::MakeDiscFromRaw(disc.raw));
  const RecoveryOutcome o = RunJob(core, loaded.files, *dest);
  EXPECT_EQ(o.written, 0u);
  EXPECT_EQ(o.unwritten.size(), loaded.files.size());
  EXPECT_FALSE(o.Clean());
}

}  // namespace
}  // namespace kestrow
