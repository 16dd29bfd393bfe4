// Runs of sectors read with multi-sector READ CD: the sectors, the bytes and
// the point of failure must be those of one READ CD per sector, and the
// commands far fewer.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "SingleSectorReference.h"
#include "TempDir.h"
#include "TestDisc.h"
#include "FaultInjectingTransport.h"
#include "KestrowCore.h"
#include "drive/SectorReader.h"

namespace kestrow {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Faults {
  std::vector<std::uint32_t> failAt;                             // READ CD touching these fails
  std::vector<std::pair<std::uint32_t, std::uint32_t>> shortAt;  // (lba, bytes delivered of it)
};

// A drive over `userData` with the faults applied.
std::unique_ptr<FaultInjectingTransport> MakeDrive(const Bytes& userData, const Faults& faults) {
  auto transport = std::make_unique<FaultInjectingTransport>(test::MakeDisc(userData));
  for (std::uint32_t lba : faults.failAt) transport->FailReadAt(lba);
  for (const auto& [lba, bytes] : faults.shortAt) transport->ShortTransferAt(lba, bytes);
  return transport;
}

// A core over `userData` with the faults applied; `probe` watches its drive.
std::unique_ptr<CKestrowCore> MakeCore(const Bytes& userData, const Faults& faults,
                                       FaultInjectingTransport** probe = nullptr) {
  auto transport = MakeDrive(userData, faults);
  if (probe) *probe = transport.get();
  return std::make_unique<CKestrowCore>(std::move(transport));
}

// A sector reader over its own drive.
struct ReaderOnDrive {
  ReaderOnDrive(const Bytes& userData, const Faults& faults) : drive(MakeDrive(userData, faults)), reader(*drive) {}
  std::unique_ptr<FaultInjectingTransport> drive;
  SectorReader reader;
};

// Every sector's user data says which sector it is.
Bytes NumberedDisc(std::uint32_t sectors) {
  Bytes disc(std::size_t{sectors} * 2048);
  for (std::size_t i = 0; i < disc.size(); ++i) disc[i] = static_cast<std::uint8_t>(i / 2048 * 31 + i % 251);
  return disc;
}

struct Delivered {
  std::int32_t lba;
  Bytes raw;
  bool operator==(const Delivered&) const = default;
};

struct RunLog {
  bool ok = false;
  std::vector<Delivered> sectors;
};

// What a consumer that stops after `acceptAtMost` sectors sees of a run.
RunLog FastRun(SectorReader& reader, std::int32_t lba, std::int32_t count, std::size_t acceptAtMost) {
  RunLog log;
  log.ok = reader.ReadSectorRun(lba, count, [&](std::int32_t at, std::span<const std::uint8_t> raw) {
    log.sectors.push_back({at, Bytes(raw.begin(), raw.end())});
    return log.sectors.size() < acceptAtMost;
  });
  return log;
}

RunLog SingleSectorRun(SectorReader& reader, std::int32_t lba, std::int32_t count, std::size_t acceptAtMost) {
  RunLog log;
  for (std::int32_t i = 0; i < count; ++i) {
    bool ok = false;
    Bytes raw = reference::ReadOne(reader, lba + i, ok);
    if (!ok) return log;
    log.sectors.push_back({lba + i, std::move(raw)});
    if (log.sectors.size() >= acceptAtMost) return log;
  }
  log.ok = true;
  return log;
}

constexpr std::size_t kAll = static_cast<std::size_t>(-1);

struct RunCase {
  const char* name;
  std::int32_t lba;
  std::int32_t count;
  Faults faults;
  std::size_t acceptAtMost;
  bool ok;                  // expected result
  std::size_t delivered;    // sectors handed to the consumer
  unsigned readCdCommands;  // commands the fast run sends
};

class SectorRunTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(SectorRunTest, DeliversWhatSingleSectorReadsDeliver) {
  const RunCase& c = GetParam();
  const Bytes disc = NumberedDisc(200);
  ReaderOnDrive fast(disc, c.faults);
  ReaderOnDrive simple(disc, c.faults);
  ASSERT_TRUE(fast.reader.Open());
  ASSERT_TRUE(simple.reader.Open());

  const RunLog got = FastRun(fast.reader, c.lba, c.count, c.acceptAtMost);
  const RunLog want = SingleSectorRun(simple.reader, c.lba, c.count, c.acceptAtMost);

  EXPECT_EQ(got.ok, c.ok);
  EXPECT_EQ(got.sectors.size(), c.delivered);
  EXPECT_EQ(got.ok, want.ok);
  EXPECT_TRUE(got.sectors == want.sectors) << "the sectors handed over differ from single-sector reads";
  EXPECT_EQ(fast.drive->counters().readCdCommands, c.readCdCommands);
  const ReadStatistics stats = fast.reader.GetStatistics();
  EXPECT_EQ(stats.readCdCommands, c.readCdCommands);
}

// Chunks are 27 sectors. A failing or short chunk is read again sector by
// sector up to the sector that decides the outcome.
INSTANTIATE_TEST_SUITE_P(
    Runs, SectorRunTest,
    ::testing::Values(
        RunCase{"OneSectorIsOneCommand", 7, 1, {}, kAll, true, 1, 1},
        RunCase{"OneFullChunk", 5, 27, {}, kAll, true, 27, 1},
        RunCase{"ChunksAndARemainder", 0, 100, {}, kAll, true, 100, 4},
        RunCase{"NothingToRead", 3, 0, {}, kAll, true, 0, 0},
        RunCase{"FailureAtTheFirstSector", 10, 60, {{10}, {}}, kAll, false, 0, 2},
        RunCase{"FailureInsideTheSecondChunk", 10, 60, {{50}, {}}, kAll, false, 40, 1 + 1 + 14},
        RunCase{"FailureAtTheLastSector", 10, 54, {{63}, {}}, kAll, false, 53, 1 + 1 + 27},
        RunCase{"FailureInALoneLastSector", 10, 28, {{37}, {}}, kAll, false, 27, 2},
        RunCase{"FailureJustAfterTheRun", 10, 27, {{37}, {}}, kAll, true, 27, 1},
        // A sector not delivered whole is a failed read: the run ends there.
        RunCase{"ShortSectorIsAFailedRead", 10, 30, {{}, {{20, 100}}}, kAll, false, 10, 1 + 1},
        RunCase{"EmptyTransferIsAFailure", 10, 30, {{}, {{20, 0}}}, kAll, false, 10, 1 + 1},
        RunCase{"WholeSectorShortfallChangesNothing", 10, 30, {{}, {{20, 2352}}}, kAll, true, 30, 1 + 16 + 1},
        RunCase{"PastTheEndOfTheDisc", 190, 20, {}, kAll, false, 10, 1 + 11},
        RunCase{"ConsumerStopsMidChunk", 0, 100, {}, 35, false, 35, 2},
        RunCase{"ConsumerStopsAtTheLastSector", 0, 27, {}, 27, false, 27, 1}),
    [](const auto& param) { return param.param.name; });

TEST(SectorRun, StatisticsCountWholeSectorsAndFailedCommands) {
  const Bytes disc = NumberedDisc(200);
  ReaderOnDrive run(disc, {{50}, {}});
  ASSERT_TRUE(run.reader.Open());
  FastRun(run.reader, 0, 40, kAll);
  // One command for 27 sectors, one for 13.
  EXPECT_EQ(run.reader.GetStatistics().readCdCommands, 2u);
  EXPECT_EQ(run.reader.GetStatistics().sectorsRead, 40u);
  EXPECT_EQ(run.reader.GetStatistics().failedCommands, 0u);
  run.reader.ResetStatistics();
  FastRun(run.reader, 45, 10, kAll);  // the chunk fails, then 45..49 succeed and 50 fails
  const ReadStatistics stats = run.reader.GetStatistics();
  EXPECT_EQ(stats.readCdCommands, 1u + 6u);
  EXPECT_EQ(stats.sectorsRead, 5u);
  EXPECT_EQ(stats.failedCommands, 2u);
}

// ---------------------------------------------------------------------------
// The readers built on runs: volume area and dump (sector groups are checked
// through whole jobs in RecoveryReadOnceTest).

struct AreaCase {
  const char* name;
  std::uint32_t volumeStart;  // 512-byte units
  std::uint32_t units;        // area length
  Faults faults;
};

class VolumeAreaRunTest : public ::testing::TestWithParam<AreaCase> {};

TEST_P(VolumeAreaRunTest, ImageAndFailureMatchSingleSectorLoading) {
  const AreaCase& c = GetParam();
  Bytes area(std::size_t{c.units} * 512);
  for (std::size_t i = 0; i < area.size(); ++i) area[i] = static_cast<std::uint8_t>(i * 13 + i / 509);
  const Bytes disc = test::MakeDiscUserData(1200, c.volumeStart, c.volumeStart + c.units, area);
  FaultInjectingTransport* drive = nullptr;
  auto fast = MakeCore(disc, c.faults, &drive);
  auto simple = MakeCore(disc, c.faults);

  VolumeImage got;
  const bool gotOk = fast->LoadVolumeImage(got);
  VolumeImage want;
  ASSERT_TRUE(simple->OpenDevice());
  const bool wantOk = reference::ReadVolumeImage(*simple, want);

  EXPECT_EQ(gotOk, wantOk);
  EXPECT_EQ(got.size(), want.size());
  EXPECT_TRUE(got == want) << "the image differs from single-sector loading";
  EXPECT_EQ(fast->GetErrorState(), wantOk ? kErrorNone : kErrorReadOrFormat);
  if (c.faults.failAt.empty() && c.faults.shortAt.empty()) {
    EXPECT_TRUE(gotOk);
    EXPECT_EQ(got, area);
    const std::uint32_t sectors = (c.volumeStart % 4 * 512 + c.units * 512 + 2047) / 2048;
    EXPECT_EQ(drive->counters().sectorsRequested, 1u + sectors) << "the trailer and each area sector once";
    EXPECT_EQ(drive->counters().readCdCommands, 1u + (sectors + 26) / 27);
  }
}

// The area of a volumeStart of 4001 begins in sector 1000 at user byte 512.
INSTANTIATE_TEST_SUITE_P(
    Areas, VolumeAreaRunTest,
    ::testing::Values(
        AreaCase{"Aligned", 4000, 400, {}},
        AreaCase{"StartsInsideASector", 4001, 400, {}},
        AreaCase{"EndsInsideASector", 4003, 397, {}},
        AreaCase{"OneUnit", 4002, 1, {}},
        AreaCase{"UnreadableMidArea", 4001, 400, {{1040}, {}}},
        AreaCase{"UnreadableFirstSector", 4001, 400, {{1000}, {}}},
        AreaCase{"UnreadableTrailer", 4000, 40, {{1199}, {}}},
        // 1000 bytes transferred: a failed read of that sector, never a
        // shorter one that would shift the rest of the area.
        AreaCase{"ShortSectorIsAFailedRead", 4000, 400, {{}, {{1030, 1000}}}},
        AreaCase{"ShortFirstSectorBelowTheSkip", 4002, 100, {{}, {{1000, 1300}}}},
        AreaCase{"TooShortToHoldUserBytes", 4000, 400, {{}, {{1030, 200}}}}),
    [](const auto& param) { return param.param.name; });

// A dump face that records what it was shown and may cancel.
class RecordingDump : public DumpCallbacks {
 public:
  RecordingDump(std::uint32_t start, std::uint32_t end, int cancelAt) : m_start(start), m_end(end), m_cancelAt(cancelAt) {}
  bool ChooseSectorRange(std::uint32_t, std::uint32_t& start, std::uint32_t& end) override {
    start = m_start;
    end = m_end;
    return true;
  }
  void ShowProgress(int done, int total) override { shown.push_back(FormatDumpProgress(done, total)); }
  bool CancelRequested() override { return static_cast<int>(shown.size()) - 1 == m_cancelAt; }
  std::vector<std::string> shown;

 private:
  std::uint32_t m_start;
  std::uint32_t m_end;
  int m_cancelAt;
};

struct DumpResult {
  bool ok = false;
  Bytes file;
  std::vector<std::string> shown;
};

// The dump loop of one READ CD per sector: progress, cancel, read, write.
DumpResult SingleSectorDump(CKestrowCore& core, std::uint32_t start, std::uint32_t end, int cancelAt) {
  DumpResult result;
  RecordingDump face(start, end, cancelAt);
  core.OpenDevice();
  const int total = static_cast<int>(end - start + 1);
  for (int done = 0; done < total; ++done) {
    face.ShowProgress(done, total);
    if (face.CancelRequested()) break;
    bool ok = false;
    const Bytes raw = reference::ReadOne(core, static_cast<std::int32_t>(start - 1) + done, ok);
    if (!ok) break;
    result.file.insert(result.file.end(), raw.begin(), raw.end());
    if (done + 1 == total) result.ok = true;
  }
  result.shown = face.shown;
  return result;
}

struct DumpCase {
  const char* name;
  std::uint32_t start;  // 1-based, as the user gives them
  std::uint32_t end;
  Faults faults;
  int cancelAt;  // the progress text after which the face cancels; -1: never
  bool ok;
  std::size_t bytes;
};

class DumpRunTest : public ::testing::TestWithParam<DumpCase> {};

TEST_P(DumpRunTest, FileProgressAndEndMatchSingleSectorDump) {
  const DumpCase& c = GetParam();
  const Bytes disc = NumberedDisc(200);
  auto fast = MakeCore(disc, c.faults);
  auto simple = MakeCore(disc, c.faults);
  test::TempDir dir;
  const std::string path = (dir.path() / "dump.bin").string();

  RecordingDump face(c.start, c.end, c.cancelAt);
  const bool ok = fast->DumpSectors(path, face);
  const std::string written = test::ReadFile(path);
  const DumpResult want = SingleSectorDump(*simple, c.start, c.end, c.cancelAt);

  EXPECT_EQ(ok, c.ok);
  EXPECT_EQ(written.size(), c.bytes);
  EXPECT_EQ(ok, want.ok);
  EXPECT_TRUE(Bytes(written.begin(), written.end()) == want.file) << "the dumped bytes differ";
  EXPECT_EQ(face.shown, want.shown);
  EXPECT_EQ(fast->GetDumpStatistics().bytesWritten, c.bytes);
  EXPECT_EQ(fast->GetErrorState(), c.ok ? kErrorNone : kErrorReadOrFormat);
  EXPECT_FALSE(fast->IsDeviceOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Dumps, DumpRunTest,
    ::testing::Values(DumpCase{"WholeDisc", 1, 200, {}, -1, true, 200 * 2352},
                      DumpCase{"OneSector", 200, 200, {}, -1, true, 2352},
                      DumpCase{"ThreeSectors", 10, 12, {}, -1, true, 3 * 2352},
                      DumpCase{"ReadFailureMidRange", 1, 200, {{100}, {}}, -1, false, 100 * 2352},
                      DumpCase{"ReadFailureAtTheFirstSector", 20, 30, {{19}, {}}, -1, false, 0},
                      DumpCase{"ShortSectorIsAFailedRead", 1, 60, {{}, {{40, 700}}}, -1, false, 40 * 2352},
                      DumpCase{"CancelMidChunk", 1, 100, {}, 30, false, 30 * 2352},
                      DumpCase{"CancelAtAFailingSector", 1, 100, {{50}, {}}, 50, false, 50 * 2352}),
    [](const auto& param) { return param.param.name; });

}  // namespace
}  // namespace kestrow
