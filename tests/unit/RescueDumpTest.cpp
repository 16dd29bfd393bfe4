// The rescue dump: ddrescue's passes over a disc with bad sectors, the map
// they leave, retries, and runs cut short (Ctrl-C, a failed write) in each
// pass that resume to the same image.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "FaultInjectingTransport.h"
#include "KestrowCore.h"
#include "MemoryTransport.h"
#include "drive/DdrescueMap.h"
#include "drive/Mode1Sector.h"
#include "drive/ScsiCommands.h"
#include "rawtools/RescueMap.h"
#include "text/ByteReader.h"

namespace kestrow {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kSectors = 400;
constexpr std::size_t kRaw = 2352;

Bytes UserData(std::uint8_t disc = 0) {
  Bytes user(std::size_t{kSectors} * 2048);
  for (std::size_t i = 0; i < user.size(); ++i) user[i] = static_cast<std::uint8_t>(i / 2048 * 13 + i % 251 + disc);
  return user;
}

// The disc as a raw image, every sector whole.
Bytes WholeImage(std::uint8_t disc = 0) {
  const Bytes user = UserData(disc);
  Bytes image(std::size_t{kSectors} * kRaw);
  for (std::uint32_t lba = 0; lba < kSectors; ++lba) {
    SynthesizeMode1Sector(lba, std::span<const std::uint8_t>(user).subspan(std::size_t{lba} * 2048, 2048),
                          std::span<std::uint8_t>(image).subspan(std::size_t{lba} * kRaw, kRaw));
  }
  return image;
}

// A sector that fails the first `failures` READ CDs that touch it.
class FlakySector : public Transport {
 public:
  FlakySector(std::unique_ptr<Transport> inner, std::uint32_t lba, int failures)
      : m_inner(std::move(inner)), m_lba(lba), m_failures(failures) {}
  bool Open() override { return m_inner->Open(); }
  void Close() override { m_inner->Close(); }
  bool IsOpen() const override { return m_inner->IsOpen(); }
  std::string Path() const override { return m_inner->Path(); }
  CommandResult Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn, unsigned t) override {
    const ByteReader cd(cdb);
    const bool touches = cdb[0] == scsi::kOpReadCd12 && *cd.be32(2) <= m_lba && m_lba < *cd.be32(2) + *cd.be24(6);
    if (touches && m_failures-- > 0) return CommandResult{};
    return m_inner->Execute(cdb, dataIn, t);
  }

 private:
  std::unique_ptr<Transport> m_inner;
  std::uint32_t m_lba;
  int m_failures;
};

// The image and map in memory; a write can be made to fail.
class MemoryTarget : public RescueTarget {
 public:
  bool WriteSector(std::uint32_t lba, std::span<const std::uint8_t> raw) override {
    if (writes++ == failWriteAt) return false;
    if (image.size() < (std::size_t{lba} + 1) * kRaw) image.resize((std::size_t{lba} + 1) * kRaw, 0);
    std::copy(raw.begin(), raw.end(), image.begin() + static_cast<std::ptrdiff_t>(std::size_t{lba} * kRaw));
    return true;
  }
  bool ReadSector(std::uint32_t lba, std::span<std::uint8_t> raw) override {
    if (image.size() < (std::size_t{lba} + 1) * kRaw) return false;
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(std::size_t{lba} * kRaw), kRaw, raw.begin());
    return true;
  }
  bool ReachSize(std::uint64_t bytes) override {
    if (image.size() < bytes) image.resize(static_cast<std::size_t>(bytes), 0);
    return true;
  }
  bool SaveMap(const std::string& text) override {
    if (failSaveMap) return false;
    map = text;
    return true;
  }
  std::string Failure() const override { return "injected write failure"; }

  Bytes image;
  std::string map;
  int writes = 0;
  int failWriteAt = -1;
  bool failSaveMap = false;
};

class Face : public DumpCallbacks {
 public:
  Face(std::uint32_t start, std::uint32_t end, int cancelAt) : m_start(start), m_end(end), m_cancelAt(cancelAt) {}
  bool ChooseSectorRange(std::uint32_t, std::uint32_t& start, std::uint32_t& end) override {
    start = m_start;
    end = m_end;
    return true;
  }
  void ShowProgress(int, int) override { ++m_steps; }
  bool CancelRequested() override { return m_steps == m_cancelAt; }

 private:
  std::uint32_t m_start;
  std::uint32_t m_end;
  int m_cancelAt;
  int m_steps = 0;
};

struct Outcome {
  bool complete = false;
  RescueStatistics stats;
  ReadStatistics reads;
};

Outcome RescueWith(std::unique_ptr<Transport> drive, RescueMap& map, MemoryTarget& target, DumpCallbacks& face,
                   const RescueSettings& settings) {
  CKestrowCore core(std::move(drive));
  Outcome run;
  run.complete = core.RescueSectors(map, target, face, settings);
  run.stats = core.GetRescueStatistics();
  run.reads = core.GetReadStatistics();
  return run;
}

RescueSettings SavingAlways(int retries = 0) {
  RescueSettings settings;
  settings.retries = retries;
  settings.saveInterval = std::chrono::milliseconds(0);  // after every step
  return settings;
}

Outcome Rescue(std::unique_ptr<Transport> drive, RescueMap& map, MemoryTarget& target, std::uint32_t start,
           std::uint32_t end, int retries = 0, int cancelAt = -1) {
  Face face(start, end, cancelAt);
  return RescueWith(std::move(drive), map, target, face, SavingAlways(retries));
}

std::unique_ptr<FaultInjectingTransport> Disc(const std::set<std::uint32_t>& bad) {
  auto faults = std::make_unique<FaultInjectingTransport>(std::make_unique<MemoryTransport>(UserData()));
  for (const std::uint32_t lba : bad) faults->FailReadAt(lba);
  return faults;
}

// What the saved map says, per sector.
std::map<std::uint32_t, char> SavedStatuses(const std::string& text) {
  DdrescueMap parsed;
  std::string reason;
  EXPECT_TRUE(parsed.Parse(text, reason)) << reason;
  std::map<std::uint32_t, char> statuses;
  for (const DdrescueMap::Block& block : parsed.Blocks()) {
    EXPECT_EQ(block.begin % kRaw, 0u);
    EXPECT_EQ(block.end % kRaw, 0u);
    for (std::uint64_t lba = block.begin / kRaw; lba < block.end / kRaw; ++lba) {
      statuses[static_cast<std::uint32_t>(lba)] = block.status;
    }
  }
  return statuses;
}

bool SectorEquals(const Bytes& a, const Bytes& b, std::uint32_t lba) {
  const std::size_t at = std::size_t{lba} * kRaw;
  return a.size() >= at + kRaw && b.size() >= at + kRaw &&
         std::equal(a.begin() + static_cast<std::ptrdiff_t>(at), a.begin() + static_cast<std::ptrdiff_t>(at + kRaw),
                    b.begin() + static_cast<std::ptrdiff_t>(at));
}

std::set<std::uint32_t> Sectors(std::uint32_t first, std::uint32_t count) {
  std::set<std::uint32_t> sectors;
  for (std::uint32_t i = 0; i < count; ++i) sectors.insert(first + i);
  return sectors;
}

struct PassCase {
  const char* name;
  std::set<std::uint32_t> bad;
  std::uint32_t start;  // 1-based, as the user gives them
  std::uint32_t end;
};

class RescuePasses : public ::testing::TestWithParam<PassCase> {};

TEST_P(RescuePasses, BadAreasAreTheBadSectorsAndFinishedOnesTheSources) {
  const PassCase& c = GetParam();
  const Bytes whole = WholeImage();
  RescueMap map;
  MemoryTarget target;
  const Outcome first = Rescue(Disc(c.bad), map, target, c.start, c.end);

  std::set<std::uint32_t> badInRange;
  for (const std::uint32_t lba : c.bad) {
    if (lba + 1 >= c.start && lba + 1 <= c.end) badInRange.insert(lba);
  }
  EXPECT_EQ(first.complete, badInRange.empty());
  EXPECT_EQ(first.stats.bad, badInRange.size());
  EXPECT_EQ(first.stats.untried, 0u);
  EXPECT_EQ(target.image.size(), whole.size()) << "the image ends where the disc does";
  const auto statuses = SavedStatuses(target.map);
  for (std::uint32_t lba = 0; lba < kSectors; ++lba) {
    const bool inRange = lba + 1 >= c.start && lba + 1 <= c.end;
    const char want = !inRange ? '?' : badInRange.count(lba) ? '-' : '+';
    ASSERT_EQ(statuses.at(lba), want) << "sector " << lba;
    if (want == '+') {
      ASSERT_TRUE(SectorEquals(target.image, whole, lba)) << "sector " << lba;
    }
  }

  // (A second source that completes the image: tests/e2e/test_rescue.sh.)
}

INSTANTIATE_TEST_SUITE_P(
    Damage, RescuePasses,
    ::testing::Values(PassCase{"NoDamage", {}, 1, kSectors},
                      PassCase{"OneBadSector", {100}, 1, kSectors},
                      PassCase{"BadFirstAndLast", {0, kSectors - 1}, 1, kSectors},
                      PassCase{"ScratchOfFortySectors", Sectors(120, 40), 1, kSectors},
                      PassCase{"ScatteredAndARun", {5, 6, 7, 60, 61, 200, 201, 202, 203, 204, 205, 206, 399}, 1, kSectors},
                      PassCase{"PartOfTheDisc", {30, 150, 151}, 40, 160}),
    [](const auto& p) { return p.param.name; });

TEST(RescuePasses, RetriesReadASectorThatFailsTwice) {
  for (const int retries : {1, 2}) {
    RescueMap map;
    MemoryTarget target;
    // The copying pass and the trimming pass fail once each; the first
    // retry fails, the second reads.
    const Outcome run = Rescue(std::make_unique<FlakySector>(Disc({}), 50, 3), map, target, 1, kSectors, retries);
    EXPECT_EQ(run.complete, retries == 2) << retries;
    EXPECT_EQ(SavedStatuses(target.map).at(50), retries == 2 ? '+' : '-') << retries;
  }
}

// With sectors 70-72 and 250 bad, steps 1-15 copy (two passes), 16-45 trim
// and 46 scrapes; writes 0-368 are made while copying, 369-395 while trimming.
struct InterruptCase {
  const char* name;
  int cancelAt;     // progress step at which Ctrl-C comes; -1 never
  int failWriteAt;  // write that fails; -1 none
};

class RescueInterrupted : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(RescueInterrupted, ResumesToTheImageOfAnUninterruptedRun) {
  const std::set<std::uint32_t> bad = {70, 71, 72, 250};
  RescueMap straightMap;
  MemoryTarget straight;
  Rescue(Disc(bad), straightMap, straight, 1, kSectors);

  RescueMap map;
  MemoryTarget target;
  target.failWriteAt = GetParam().failWriteAt;
  const Outcome cut = Rescue(Disc(bad), map, target, 1, kSectors, 0, GetParam().cancelAt);
  EXPECT_FALSE(cut.complete);
  EXPECT_TRUE(cut.stats.cancelled || cut.stats.writeFailed);
  // What the saved map marks finished is in the image.
  const auto saved = SavedStatuses(target.map);
  const Bytes whole = WholeImage();
  for (const auto& [lba, status] : saved) {
    if (status == '+') {
      ASSERT_TRUE(SectorEquals(target.image, whole, lba)) << "sector " << lba;
    }
  }

  // Resume from the saved map, as a new program run would.
  DdrescueMap parsed;
  std::string reason;
  ASSERT_TRUE(parsed.Parse(target.map, reason));
  RescueMap resumed(parsed);
  target.failWriteAt = -1;
  const Outcome rest = Rescue(Disc(bad), resumed, target, 1, kSectors);
  EXPECT_FALSE(rest.complete);
  EXPECT_EQ(rest.stats.bad, bad.size());
  EXPECT_EQ(target.image, straight.image);
  EXPECT_EQ(SavedStatuses(target.map), SavedStatuses(straight.map));
}

INSTANTIATE_TEST_SUITE_P(Cuts, RescueInterrupted,
                         ::testing::Values(InterruptCase{"CtrlCWhileCopying", 5, -1},
                                           InterruptCase{"CtrlCWhileTrimming", 30, -1},
                                           InterruptCase{"CtrlCWhileScraping", 46, -1},
                                           InterruptCase{"WriteFailsWhileCopying", -1, 100},
                                           InterruptCase{"WriteFailsWhileTrimming", -1, 380}),
                         [](const auto& p) { return p.param.name; });

// A run that resumes from a map first compares some of the sectors it marks
// finished (the first half of the disc here) with the disc in the drive.
struct ResumeCase {
  const char* name;
  std::function<void(Bytes& image)> change;  // what becomes of the image between the runs
  RescueRefusal refusal;
};

class RescueResume : public ::testing::TestWithParam<ResumeCase> {};

TEST_P(RescueResume, FinishedSectorsMustBeThoseOfTheDiscInTheDrive) {
  RescueMap map;
  MemoryTarget target;
  Rescue(Disc({}), map, target, 1, kSectors / 2);
  GetParam().change(target.image);
  const Bytes image = target.image;
  const std::string savedMap = target.map;
  const Outcome rest = Rescue(Disc({}), map, target, 1, kSectors);
  EXPECT_EQ(rest.stats.refusal, GetParam().refusal);
  EXPECT_EQ(rest.complete, GetParam().refusal == RescueRefusal::kNone);
  if (GetParam().refusal != RescueRefusal::kNone) {
    EXPECT_EQ(target.image, image) << "nothing is written";
    EXPECT_EQ(target.map, savedMap) << "the map is not touched";
    EXPECT_LE(rest.reads.sectorsRead, 6u) << "only the samples are read";
  } else {
    EXPECT_EQ(target.image, WholeImage());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Images, RescueResume,
    ::testing::Values(
        ResumeCase{"ItsOwnDisc", [](Bytes&) {}, RescueRefusal::kNone},
        ResumeCase{"AnotherDiscsSectors",
                   [](Bytes& image) {
                     const Bytes other = WholeImage(7);
                     std::copy_n(other.begin(), image.size(), image.begin());
                   },
                   RescueRefusal::kOtherDisc},
        // GNU ddrescue's image: 2048-byte sectors where raw ones belong.
        ResumeCase{"UserDataOnly",
                   [](Bytes& image) {
                     const Bytes user = UserData();
                     std::copy(user.begin(), user.end(), image.begin());
                   },
                   RescueRefusal::kNotRawImage},
        ResumeCase{"AHoleWhereTheMapSaysFinished",
                   [](Bytes& image) { std::fill_n(image.begin(), kRaw, std::uint8_t{0}); },
                   RescueRefusal::kNotRawImage}),
    [](const auto& p) { return p.param.name; });

TEST(RescuePasses, AMapThatCouldNotBeSavedIsNotSaidToBe) {
  RescueMap map;
  MemoryTarget target;
  target.failSaveMap = true;
  const Outcome run = Rescue(Disc({}), map, target, 1, kSectors);
  EXPECT_FALSE(run.complete);
  EXPECT_TRUE(run.stats.writeFailed);
  EXPECT_FALSE(run.stats.mapSaved);
}

// --- Pass control: what each option leaves in the map, and a later run with
// the defaults finishing the job --------------------------------------------

struct ReadCd {
  std::uint32_t lba = 0;
  std::uint32_t count = 0;
  bool failed = false;
};

// Sectors 100-139 and 300 are bad. The copying passes leave 81-161 and
// 297-323 non-trimmed (a failed READ CD brings nothing); trimming finds 100
// and 139 bad and 101-138 non-scraped.
const std::set<std::uint32_t> kControlBad = [] {
  std::set<std::uint32_t> bad = Sectors(100, 40);
  bad.insert(300);
  return bad;
}();

std::map<char, std::uint32_t> CountStatuses(const std::string& map) {
  std::map<char, std::uint32_t> counts;
  for (const auto& [lba, status] : SavedStatuses(map)) ++counts[status];
  return counts;
}

// How far the first copying pass jumps after its failed reads: the gaps
// between its READ CDs of several sectors, up to its first turn of direction.
std::vector<std::uint32_t> FirstPassSkips(const std::vector<ReadCd>& reads) {
  std::vector<std::uint32_t> gaps;
  const ReadCd* previous = nullptr;
  for (const ReadCd& read : reads) {
    if (read.count < 2) continue;
    if (previous && read.lba < previous->lba) break;
    if (previous && read.lba > previous->lba + previous->count) gaps.push_back(read.lba - previous->lba - previous->count);
    previous = &read;
  }
  return gaps;
}

struct ControlCase {
  const char* name;
  std::function<void(RescueSettings&)> set;
  std::map<char, std::uint32_t> statuses;  // sectors with each status after the run
  std::vector<std::uint32_t> skips;        // FirstPassSkips; not checked backwards
  std::uint32_t firstReadEnd;              // where the first READ CD ends
};

class RescueControl : public ::testing::TestWithParam<ControlCase> {};

TEST_P(RescueControl, LeavesItsAreasInTheMapForALaterRun) {
  const ControlCase& c = GetParam();
  RescueMap straightMap;
  MemoryTarget straight;
  Rescue(Disc(kControlBad), straightMap, straight, 1, kSectors);

  std::vector<ReadCd> reads;
  auto disc = Disc(kControlBad);
  disc->OnReadCd([&reads](std::uint32_t lba, std::uint32_t count, bool failed) { reads.push_back({lba, count, failed}); });
  RescueMap map;
  MemoryTarget target;
  RescueSettings settings = SavingAlways();
  c.set(settings);
  Face face(1, kSectors, -1);
  const Outcome run = RescueWith(std::move(disc), map, target, face, settings);
  EXPECT_FALSE(run.complete);
  EXPECT_EQ(CountStatuses(target.map), c.statuses);
  ASSERT_FALSE(reads.empty());
  EXPECT_EQ(reads.front().lba + reads.front().count, c.firstReadEnd);
  if (!settings.reverse) {
    EXPECT_EQ(FirstPassSkips(reads), c.skips);
  }
  const Bytes whole = WholeImage();
  for (const auto& [lba, status] : SavedStatuses(target.map)) {
    if (status == '+') {
      ASSERT_TRUE(SectorEquals(target.image, whole, lba)) << "sector " << lba;
    }
  }

  // A later run with the defaults trims and scrapes what this one left.
  DdrescueMap parsed;
  std::string reason;
  ASSERT_TRUE(parsed.Parse(target.map, reason)) << reason;
  RescueMap resumed(parsed);
  Rescue(Disc(kControlBad), resumed, target, 1, kSectors);
  EXPECT_EQ(target.image, straight.image);
  EXPECT_EQ(SavedStatuses(target.map), SavedStatuses(straight.map));
}

INSTANTIATE_TEST_SUITE_P(
    Options, RescueControl,
    ::testing::Values(
        ControlCase{"Defaults", [](RescueSettings&) {}, {{'+', 359}, {'-', 41}}, {27, 27, 27}, 27},
        ControlCase{"NoTrim", [](RescueSettings& s) { s.trim = false; }, {{'+', 292}, {'*', 108}}, {27, 27, 27}, 27},
        ControlCase{"NoScrape", [](RescueSettings& s) { s.scrape = false; }, {{'+', 359}, {'-', 3}, {'/', 38}},
                    {27, 27, 27}, 27},
        ControlCase{"NoTrimNoScrape", [](RescueSettings& s) { s.trim = s.scrape = false; }, {{'+', 292}, {'*', 108}},
                    {27, 27, 27}, 27},
        ControlCase{"Reverse", [](RescueSettings& s) { s.reverse = true; }, {{'+', 359}, {'-', 41}}, {}, kSectors},
        ControlCase{"NoSkipping", [](RescueSettings& s) { s.skipMin = 0; }, {{'+', 359}, {'-', 41}}, {}, 27},
        ControlCase{"SkipFiveToTen", [](RescueSettings& s) { s.skipMin = 5, s.skipMax = 10; },
                    {{'+', 359}, {'-', 41}}, {5, 10, 5}, 27}),
    [](const auto& p) { return p.param.name; });

// A clock of the test's own.
class TestClock {
 public:
  std::chrono::steady_clock::time_point Now() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_now;
  }
  void Advance(std::chrono::seconds by) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_now += by;
  }

 private:
  std::mutex m_lock;
  std::chrono::steady_clock::time_point m_now{};
};

TEST(RescueControl, TimeoutStopsWhenNothingWasReadWellForThatLong) {
  for (const int timeout : {0, 60}) {
    // Each failed READ CD takes ten seconds of the test's clock.
    TestClock clock;
    unsigned failed = 0;
    auto disc = Disc(Sectors(100, kSectors - 100));
    disc->OnReadCd([&](std::uint32_t, std::uint32_t, bool bad) {
      if (!bad) return;
      ++failed;
      clock.Advance(std::chrono::seconds(10));
    });
    RescueMap map;
    MemoryTarget target;
    RescueSettings settings = SavingAlways();
    settings.timeout = std::chrono::seconds(timeout);
    settings.clock = [&clock] { return clock.Now(); };
    Face face(1, kSectors, -1);
    const Outcome run = RescueWith(std::move(disc), map, target, face, settings);
    EXPECT_FALSE(run.complete);
    EXPECT_EQ(run.stats.timedOut, timeout > 0) << timeout;
    EXPECT_TRUE(run.stats.mapSaved) << timeout;
    if (timeout > 0) {
      // The READ CD of 54-80 was the last good read: six failed reads later
      // a minute has passed.
      EXPECT_EQ(failed, 6u);
      EXPECT_GT(CountStatuses(target.map)['?'], 0u) << "the rest stays for a later run";
    } else {
      EXPECT_EQ(run.stats.bad, kSectors - 100);
    }
  }
}

// --- The status a face is given: on a timer, also while a read hangs ----------

class StatusFace : public Face {
 public:
  StatusFace() : Face(1, kSectors, -1) {}
  void ShowRescueStatus(const RescueStatus& status) override {
    std::lock_guard<std::mutex> guard(m_lock);
    m_statuses.push_back(status);
    m_changed.notify_all();
  }
  // Waits until `count` statuses have come; false after ten seconds.
  bool WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::seconds(10), [&] { return m_statuses.size() >= count; });
  }
  std::vector<RescueStatus> Statuses() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_statuses;
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<RescueStatus> m_statuses;
};

TEST(RescueStatusTest, ClocksMoveWhileAReadHangsAndTheLastStatusAddsUp) {
  // The first failed READ CD hangs until the test lets it go.
  std::mutex lock;
  std::condition_variable released;
  bool hanging = false;
  bool letGo = false;
  auto disc = Disc(kControlBad);
  disc->OnReadCd([&](std::uint32_t, std::uint32_t, bool failed) {
    std::unique_lock<std::mutex> guard(lock);
    if (!failed || hanging) return;
    hanging = true;
    released.notify_all();
    released.wait(guard, [&] { return letGo; });
  });
  StatusFace face;
  RescueMap map;
  MemoryTarget target;
  RescueSettings settings = SavingAlways();
  settings.statusInterval = std::chrono::milliseconds(5);
  Outcome run;
  std::thread rescue([&] { run = RescueWith(std::move(disc), map, target, face, settings); });
  {
    std::unique_lock<std::mutex> guard(lock);
    released.wait(guard, [&] { return hanging; });
  }
  const std::size_t before = face.Statuses().size();
  const bool came = face.WaitFor(before + 4);
  {
    std::lock_guard<std::mutex> guard(lock);
    letGo = true;
  }
  released.notify_all();
  rescue.join();
  ASSERT_TRUE(came) << "no status while the read hung";

  const std::vector<RescueStatus> statuses = face.Statuses();
  const RescueStatus& first = statuses[before];
  const RescueStatus& later = statuses[before + 3];
  EXPECT_GT(later.runTime, first.runTime);
  EXPECT_GT(later.sinceLastGoodRead, first.sinceLastGoodRead);
  EXPECT_EQ(later.position, 81u) << "the READ CD of 81-107 hangs";
  EXPECT_EQ(later.stage, RescueStage::kCopying);
  EXPECT_TRUE(later.forward);

  const RescueStatus& last = statuses.back();
  constexpr std::uint64_t kSector = kRaw;
  EXPECT_EQ(last.stage, RescueStage::kFinished);
  EXPECT_EQ(last.rangeBytes, kSectors * kSector);
  EXPECT_EQ(last.rescued, 359 * kSector);
  EXPECT_EQ(last.bad, 41 * kSector);
  EXPECT_EQ(last.badAreas, 2u);
  EXPECT_EQ(last.nonTried + last.nonTrimmed + last.nonScraped, 0u);
  EXPECT_EQ(last.readErrors, run.reads.failedCommands);
  EXPECT_GT(last.averageRate, 0);
}

}  // namespace
}  // namespace kestrow
