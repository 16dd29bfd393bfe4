// The error state's rule, the same for every operation that opens the
// device itself: a failed open leaves 1, a failed operation 2, success what
// was there before; the device is closed afterwards whatever happened.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "FaultInjectingTransport.h"
#include "KestrowCore.h"
#include "TestDisc.h"

namespace kestrow {
namespace {

enum class Fault { kNone, kOpen, kCapacity, kLastSector };

struct StateCase {
  const char* name;
  Fault fault;
  std::function<bool(CKestrowCore&)> operation;
  bool ok;
  std::int32_t state;
};

bool BurnSignature(CKestrowCore& core) { return core.CheckBurnSignature(); }
bool VolumeArea(CKestrowCore& core) {
  VolumeImage image;
  return core.LoadVolumeImage(image);
}
bool SectorCount(CKestrowCore& core) { return core.GetSectorCount() > 0; }
bool Scan(CKestrowCore& core) {
  DamageScan scan;
  return core.ScanDamage(scan, ReadPolicy{});
}
bool Unpack(CKestrowCore& core) {
  struct Discard : ImageSink {
    bool Append(std::span<const std::uint8_t>, std::string&) override { return true; }
  } sink;
  UnpackOutcome outcome;
  return core.UnpackVolume(UnpackSettings{}, sink, outcome);
}
bool Recover(CKestrowCore& core) {
  core.StartRecovery({}, "/nonexistent/");
  core.WaitForRecovery();
  return core.GetRecoveryOutcome().state == RecoveryState::kFinished;
}
// A physical dump of the whole disc (the rescue dump's facade keeps the same rule).
bool PhysicalDump(CKestrowCore& core) {
  struct WholeDisc : DumpCallbacks {
    bool ChooseSectorRange(std::uint32_t, std::uint32_t&, std::uint32_t&) override { return true; }
    void ShowProgress(int, int) override {}
  } face;
  const std::filesystem::path path = std::filesystem::path(::testing::TempDir()) / "error-state-dump.bin";
  const bool ok = core.DumpSectors(path.string(), face);
  std::filesystem::remove(path);
  return ok;
}

class ErrorStateTest : public ::testing::TestWithParam<StateCase> {};

TEST_P(ErrorStateTest, OneRuleForEveryOperation) {
  const StateCase& c = GetParam();
  const std::vector<std::uint8_t> area(64 * 512, 0x5A);
  auto drive = std::make_unique<FaultInjectingTransport>(test::MakeDisc(test::MakeDiscUserData(400, 1000, 1064, area)));
  if (c.fault == Fault::kOpen) drive->FailOpen();
  if (c.fault == Fault::kCapacity) drive->FailReadCapacity();
  // The trailer is in the last sector only: none is found without it.
  if (c.fault == Fault::kLastSector) drive->FailReadAt(399);
  CKestrowCore core(std::move(drive));
  EXPECT_EQ(c.operation(core), c.ok);
  EXPECT_EQ(core.GetErrorState(), c.state);
  EXPECT_FALSE(core.IsDeviceOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ErrorStateTest,
    ::testing::Values(StateCase{"BurnSignature", Fault::kNone, BurnSignature, true, kErrorNone},
                      StateCase{"BurnSignatureNoOpen", Fault::kOpen, BurnSignature, false, kErrorCannotOpen},
                      StateCase{"BurnSignatureNoCapacity", Fault::kCapacity, BurnSignature, false, kErrorReadOrFormat},
                      StateCase{"BurnSignatureNoTrailer", Fault::kLastSector, BurnSignature, false, kErrorReadOrFormat},
                      StateCase{"VolumeArea", Fault::kNone, VolumeArea, true, kErrorNone},
                      StateCase{"VolumeAreaNoOpen", Fault::kOpen, VolumeArea, false, kErrorCannotOpen},
                      StateCase{"VolumeAreaNoCapacity", Fault::kCapacity, VolumeArea, false, kErrorReadOrFormat},
                      StateCase{"VolumeAreaNoTrailer", Fault::kLastSector, VolumeArea, false, kErrorReadOrFormat},
                      StateCase{"SectorCount", Fault::kNone, SectorCount, true, kErrorNone},
                      StateCase{"SectorCountNoOpen", Fault::kOpen, SectorCount, false, kErrorCannotOpen},
                      StateCase{"SectorCountNoCapacity", Fault::kCapacity, SectorCount, false, kErrorReadOrFormat},
                      // Counting sectors reads none of them.
                      StateCase{"SectorCountNoTrailer", Fault::kLastSector, SectorCount, true, kErrorNone},
                      StateCase{"ScanNoOpen", Fault::kOpen, Scan, false, kErrorCannotOpen},
                      StateCase{"ScanNoTrailer", Fault::kLastSector, Scan, false, kErrorReadOrFormat},
                      StateCase{"UnpackNoOpen", Fault::kOpen, Unpack, false, kErrorCannotOpen},
                      StateCase{"UnpackNoTrailer", Fault::kLastSector, Unpack, false, kErrorReadOrFormat},
                      StateCase{"RecoverNoOpen", Fault::kOpen, Recover, false, kErrorCannotOpen},
                      StateCase{"RecoverNoTrailer", Fault::kLastSector, Recover, false, kErrorReadOrFormat},
                      StateCase{"PhysicalDump", Fault::kNone, PhysicalDump, true, kErrorNone},
                      StateCase{"PhysicalDumpNoOpen", Fault::kOpen, PhysicalDump, false, kErrorCannotOpen},
                      StateCase{"PhysicalDumpNoCapacity", Fault::kCapacity, PhysicalDump, false, kErrorReadOrFormat},
                      StateCase{"PhysicalDumpNoLastSector", Fault::kLastSector, PhysicalDump, false, kErrorReadOrFormat}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace kestrow
