// A disc changed under a job ends it: nothing of the second disc is listed,
// written or marked in a rescue map, and what was saved before stays.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FaultInjectingTransport.h"
#include "HfsTestDisc.h"
#include "KestrowCore.h"
#include "TempDir.h"
#include "drive/CommandJudgement.h"
#include "rawtools/RescueMap.h"

namespace kestrow {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kFiles = 4;
constexpr std::size_t kFileBytes = 700 * 1024;  // more than a group each

// Two discs with the same volume and names, and other bytes in every file.
const test::HfsDisc& Disc(unsigned seed) {
  static std::map<unsigned, test::HfsDisc> discs;
  test::HfsDisc& disc = discs[seed];
  if (!disc.raw.empty()) return disc;
  std::vector<test::MacFile> files;
  for (std::size_t i = 0; i < kFiles; ++i) {
    files.push_back({"file" + std::to_string(i), test::Pattern(kFileBytes, static_cast<unsigned>(seed * 10 + i))});
  }
  mkdisc::DiscOptions options;
  options.uncompressed = true;  // so that each file spans its own groups
  std::string error;
  EXPECT_TRUE(test::MakeHfsDisc(files, options, disc, error)) << error;
  return disc;
}

struct Fault {
  unsigned swapAfter = 0;   // commands before the other disc is in; 0: never
  std::int32_t attentionAt = -1;
  std::uint8_t asc = 0;
  unsigned times = 0;
};

std::unique_ptr<CKestrowCore> MakeCore(const Fault& f, FaultInjectingTransport** probe = nullptr) {
  auto faults = std::make_unique<FaultInjectingTransport>(test::MakeDiscFromRaw(Disc(1).raw));
  if (f.swapAfter > 0) faults->SwapDiscAfter(f.swapAfter, test::MakeDiscFromRaw(Disc(2).raw));
  if (f.attentionAt >= 0) faults->UnitAttentionAt(static_cast<std::uint32_t>(f.attentionAt), f.asc, f.times);
  if (probe) *probe = faults.get();
  return std::make_unique<CKestrowCore>(std::move(faults));
}

FileTable ListedFiles() {
  auto core = MakeCore({});
  VolumeImage image;
  FileTable files;
  EXPECT_TRUE(core->LoadVolumeImage(image));
  EXPECT_TRUE(core->ScanCatalog(image, files));
  return files;
}

// The commands a whole recovery of every file sends, and a sector of the
// third file's data.
struct JobShape {
  unsigned commands = 0;
  std::int32_t thirdFileSector = 0;
};

JobShape Shape() {
  FaultInjectingTransport* drive = nullptr;
  auto core = MakeCore({}, &drive);
  test::TempDir dir;
  core->StartRecovery(ListedFiles(), dir.path().string() + "/");
  core->WaitForRecovery();
  EXPECT_EQ(core->GetRecoveryOutcome().state, RecoveryState::kFinished);
  JobShape shape;
  shape.commands = drive->counters().commands;
  const mkdisc::DiscLayout& layout = Disc(1).layout;
  shape.thirdFileSector = static_cast<std::int32_t>(layout.firstGroupSector + 248 * 4 + 100);
  return shape;
}

struct JobCase {
  const char* name;
  bool keepGoing;
  // The fault, from the job's shape.
  Fault (*fault)(const JobShape&);
  RecoveryState state;
};

class DiscChangeJobTest : public ::testing::TestWithParam<JobCase> {};

TEST_P(DiscChangeJobTest, FilesOfTheFirstDiscOnlyAndNothingAfterTheChange) {
  const JobCase& c = GetParam();
  const FileTable files = ListedFiles();
  ASSERT_EQ(files.size(), kFiles);
  auto core = MakeCore(c.fault(Shape()));
  test::TempDir dir;
  RecoveryOptions options;
  options.keepGoing = c.keepGoing;
  core->StartRecovery(files, dir.path().string() + "/", options);
  core->WaitForRecovery();
  const RecoveryOutcome outcome = core->GetRecoveryOutcome();
  EXPECT_EQ(outcome.state, c.state);
  EXPECT_EQ(core->DiscChanged(), c.state == RecoveryState::kDiscChanged);
  const bool changed = c.state == RecoveryState::kDiscChanged;
  if (changed) {
    EXPECT_GT(outcome.written, 0u) << "the files saved before the change are gone";
    EXPECT_LT(outcome.written, kFiles);
    EXPECT_FALSE(fs::exists(dir.path() / "Disc" / files[outcome.failedFile].name)) << "the file in hand was written";
  } else {
    EXPECT_EQ(outcome.written, kFiles);
  }
  EXPECT_TRUE(outcome.unreadableSectors.empty()) << "a sector of the other disc was called unreadable";
  for (std::size_t i = 0; i < kFiles; ++i) {
    const fs::path path = dir.path() / "Disc" / ("file" + std::to_string(i));
    if (!fs::exists(path)) continue;
    EXPECT_EQ(test::ReadFile(path), test::Pattern(kFileBytes, static_cast<unsigned>(10 + i)))
        << path << " is not the first disc's file";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, DiscChangeJobTest,
    ::testing::Values(
        JobCase{"SwappedMidJob", false, [](const JobShape& s) { return Fault{s.commands / 2}; },
                RecoveryState::kDiscChanged},
        JobCase{"SwappedMidJobKeepGoing", true, [](const JobShape& s) { return Fault{s.commands / 2}; },
                RecoveryState::kDiscChanged},
        JobCase{"MediumChanged", false,
                [](const JobShape& s) { return Fault{0, s.thirdFileSector, kAscMediumMayHaveChanged, 1}; },
                RecoveryState::kDiscChanged},
        JobCase{"ResetIsReadAgainOnce", false,
                [](const JobShape& s) { return Fault{0, s.thirdFileSector, kAscResetOccurred, 1}; },
                RecoveryState::kFinished},
        JobCase{"ResetTwice", true,
                [](const JobShape& s) { return Fault{0, s.thirdFileSector, kAscResetOccurred, 2}; },
                RecoveryState::kDiscChanged}),
    [](const auto& param) { return param.param.name; });

TEST(DiscChange, ListingEndsButANewDiscGreetingIsNoChange) {
  const auto trailerSector = static_cast<std::int32_t>(Disc(1).raw.size() / 2352 - 1);
  struct Case {
    const char* name;
    Fault fault;
    bool changed;
  };
  const Case cases[] = {
      {"swapped after the capacity and the trailer", Fault{2}, true},
      {"28h at the trailer, after the capacity", Fault{0, trailerSector, kAscMediumMayHaveChanged, 1}, true},
      {"29h twice at the trailer", Fault{0, trailerSector, kAscResetOccurred, 2}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto core = MakeCore(c.fault);
    VolumeImage image;
    VolumeAreaRead area;
    EXPECT_FALSE(core->LoadVolumeImage(image, area));
    EXPECT_TRUE(core->DiscChanged());
    EXPECT_EQ(area.failedLba, -1) << "a sector of the other disc was called unreadable";
    EXPECT_TRUE(area.searchUnreadable.empty()) << "the trailer search went on past the change";
  }
  // A disc put in just before the job: its first command hears of it, and
  // the job reads that disc.
  auto faults = std::make_unique<FaultInjectingTransport>(test::MakeDiscFromRaw(Disc(2).raw));
  faults->SwapDiscAfter(0, test::MakeDiscFromRaw(Disc(1).raw));
  CKestrowCore greeted(std::move(faults));
  VolumeImage image;
  EXPECT_TRUE(greeted.LoadVolumeImage(image));
  EXPECT_FALSE(greeted.DiscChanged());
}

// A rescue image in memory.
class MemoryTarget : public RescueTarget {
 public:
  bool WriteSector(std::uint32_t lba, std::span<const std::uint8_t> raw) override {
    if (image.size() < (lba + 1) * 2352u) image.resize((lba + 1) * 2352u);
    std::copy(raw.begin(), raw.end(), image.begin() + lba * 2352);
    return true;
  }
  bool ReadSector(std::uint32_t lba, std::span<std::uint8_t> raw) override {
    if (image.size() < (lba + 1) * 2352u) return false;
    std::copy_n(image.begin() + lba * 2352, 2352, raw.begin());
    return true;
  }
  bool ReachSize(std::uint64_t bytes) override {
    if (image.size() < bytes) image.resize(bytes);
    return true;
  }
  bool SaveMap(const std::string& text) override {
    map = text;
    return true;
  }
  std::string Failure() const override { return {}; }
  std::vector<std::uint8_t> image;
  std::string map;
};

class WholeDisc : public DumpCallbacks {
 public:
  bool ChooseSectorRange(std::uint32_t, std::uint32_t&, std::uint32_t&) override { return true; }
  void ShowProgress(int, int) override {}
};

TEST(DiscChange, DumpsKeepOnlyTheFirstDiscAndATrueMap) {
  const std::vector<std::uint8_t>& first = Disc(1).raw;
  const std::uint64_t sectors = first.size() / 2352;
  // Swapped about half-way through the disc.
  const Fault swap{static_cast<unsigned>(sectors / 27 / 2)};

  auto dumper = MakeCore(swap);
  test::TempDir dir;
  const fs::path path = dir.path() / "dump.bin";
  WholeDisc whole;
  EXPECT_FALSE(dumper->DumpSectors(path.string(), whole));
  EXPECT_TRUE(dumper->GetDumpStatistics().discChanged);
  const std::string dumped = test::ReadFile(path);
  EXPECT_GT(dumped.size(), 0u);
  EXPECT_LT(dumped.size(), first.size());
  EXPECT_TRUE(std::equal(dumped.begin(), dumped.end(), first.begin(),
                         [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
      << "the dump holds sectors of the other disc";

  auto rescuer = MakeCore(swap);
  RescueMap map;
  MemoryTarget target;
  EXPECT_FALSE(rescuer->RescueSectors(map, target, whole, RescueSettings{}));
  EXPECT_TRUE(rescuer->GetRescueStatistics().discChanged);
  EXPECT_EQ(map.BytesWith(rescue::kBad, 0, map.Size()), 0u) << "the other disc's answer marked sectors bad";
  const std::uint64_t finished = map.BytesWith(rescue::kFinished, 0, map.Size());
  EXPECT_GT(finished, 0u);
  EXPECT_LT(finished, first.size());
  for (const RescueMap::Area& area : map.Areas(0, map.Size())) {
    if (area.status != rescue::kFinished) continue;
    EXPECT_TRUE(std::equal(target.image.begin() + static_cast<std::ptrdiff_t>(area.begin),
                           target.image.begin() + static_cast<std::ptrdiff_t>(area.end),
                           first.begin() + static_cast<std::ptrdiff_t>(area.begin)))
        << "a sector marked finished is not the first disc's";
  }
}

}  // namespace
}  // namespace kestrow
