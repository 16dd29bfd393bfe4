// What a recovery and a dump ask of a drive: READ CD commands, sectors read
// and the time a drive that charges 0.5 ms per command and moves 7 MB/s would
// take, against streaming the sectors that hold the needed data once.
//
//   kestrow_bench_drive DISC.bin SCRATCH-FOLDER [--no-simple]
//
// The recovery of every file runs twice over the same image: through the
// job (each sector read once, many to a command) and through the simple
// worker (one sector per command, every group read again for every file).
// The simple worker reads exactly the sectors the files need, so its set of
// distinct sectors is the yardstick; its output must equal the job's byte
// for byte. --no-simple skips it (on a big disc it takes minutes) and uses
// the sectors the job read instead. The dump copies the whole disc.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "SingleSectorReference.h"
#include "KestrowCore.h"
#include "SimulatedDriveTransport.h"
#include "drive/SourceFactory.h"
#include "rawtools/PhysicalDump.h"
#include "volume/FileEntry.h"

namespace fs = std::filesystem;
using namespace kestrow;

namespace {

// A core reading `image` through a simulated drive it can be asked about.
struct MeasuredDrive {
  SimulatedDriveTransport* drive = nullptr;
  std::unique_ptr<CKestrowCore> core;
};

MeasuredDrive OpenDrive(const std::string& image) {
  auto transport = std::make_unique<SimulatedDriveTransport>(MakeSourceTransport(image, {}));
  MeasuredDrive measured;
  measured.drive = transport.get();
  measured.core = std::make_unique<CKestrowCore>(std::move(transport));
  return measured;
}

struct Figures {
  std::uint64_t commands = 0;   // READ CD commands
  std::uint64_t requested = 0;  // sectors asked for
  std::uint64_t distinct = 0;   // sectors that came back at least once
  double driveSeconds = 0;      // virtual time on the simulated drive
  double wallSeconds = 0;       // time on this machine
};

Figures Collect(const SimulatedDriveTransport& drive, std::chrono::steady_clock::time_point started) {
  Figures f;
  f.commands = drive.counters().readCdCommands;
  f.requested = drive.counters().sectorsRequested;
  f.distinct = drive.DistinctSectorsRead();
  f.driveSeconds = drive.VirtualSeconds();
  f.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return f;
}

void PrintFigures(const char* label, const Figures& f) {
  std::printf("  %-22s %10llu READ CD %12llu sectors read %10llu distinct %10.1f s on the drive %8.2f s here\n", label,
              static_cast<unsigned long long>(f.commands), static_cast<unsigned long long>(f.requested),
              static_cast<unsigned long long>(f.distinct), f.driveSeconds, f.wallSeconds);
}

// Streaming `sectors` raw sectors once: their bytes at the drive's rate,
// with no command time at all.
double StreamingSeconds(const DriveCosts& costs, std::uint64_t sectors) {
  return costs.Seconds(0, sectors * format::kRawSectorSize);
}

void PrintAgainstStreaming(const char* what, const Figures& f, std::uint64_t needed, const DriveCosts& costs) {
  const double streaming = StreamingSeconds(costs, needed);
  const double ratio = streaming > 0 ? f.driveSeconds / streaming : 0;
  std::printf("  %s: %llu sectors needed, streamed once in %.1f s; this run x%.3f (target <= x1.2: %s)\n", what,
              static_cast<unsigned long long>(needed), streaming, ratio, ratio <= 1.2 ? "met" : "NOT met");
  std::printf("  sectors read / needed: %.3f (target <= 1: %s)\n",
              needed ? static_cast<double>(f.requested) / static_cast<double>(needed) : 0.0,
              f.requested <= needed ? "met" : "NOT met");
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::ifstream fa(a, std::ios::binary);
  std::ifstream fb(b, std::ios::binary);
  if (!fa || !fb) return false;
  std::vector<char> ba(1 << 20);
  std::vector<char> bb(1 << 20);
  for (;;) {
    fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
    fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
    if (fa.gcount() != fb.gcount() || std::memcmp(ba.data(), bb.data(), static_cast<std::size_t>(fa.gcount())) != 0) {
      return false;
    }
    if (!fa || !fb) return !fa && !fb;
  }
}

// True when both folders hold the same files with the same bytes.
bool SameTree(const fs::path& a, const fs::path& b) {
  std::vector<fs::path> names;
  for (const auto& entry : fs::recursive_directory_iterator(a)) {
    if (entry.is_regular_file()) names.push_back(fs::relative(entry.path(), a));
  }
  std::size_t inB = 0;
  for (const auto& entry : fs::recursive_directory_iterator(b)) inB += entry.is_regular_file() ? 1 : 0;
  if (inB != names.size()) return false;
  for (const fs::path& name : names) {
    if (!SameFile(a / name, b / name)) return false;
  }
  return true;
}

fs::path FreshFolder(const fs::path& path) {
  fs::remove_all(path);
  fs::create_directories(path);
  return path;
}

std::string AsDestination(const fs::path& folder) { return folder.string() + "/"; }

// Chooses the whole disc and shows nothing.
class WholeDisc : public DumpCallbacks {
 public:
  bool ChooseSectorRange(std::uint32_t sectorCount, std::uint32_t& start, std::uint32_t& end) override {
    start = 1;
    end = sectorCount;
    m_sectors = sectorCount;
    return true;
  }
  void ShowProgress(int, int) override {}
  std::uint32_t sectors() const { return m_sectors; }

 private:
  std::uint32_t m_sectors = 0;
};

int Recovery(const std::string& image, const fs::path& scratch, bool withSimple) {
  FileTable files;
  {
    MeasuredDrive listing = OpenDrive(image);
    VolumeImage volume;
    if (!listing.core->LoadVolumeImage(volume) || !listing.core->ScanCatalog(volume, files)) {
      std::fprintf(stderr, "kestrow_bench_drive: %s is not a readable Kestrow PRO disc\n", image.c_str());
      return 1;
    }
  }
  std::printf("\nRecovery of all %zu files of %s through a simulated drive (0.5 ms per command, 7 MB/s)\n",
              files.size(), image.c_str());

  MeasuredDrive fast = OpenDrive(image);
  const fs::path fastOut = FreshFolder(scratch / "job");
  auto started = std::chrono::steady_clock::now();
  fast.core->StartRecovery(files, AsDestination(fastOut));
  fast.core->WaitForRecovery();
  const Figures job = Collect(*fast.drive, started);
  if (!fast.core->GetRecoveryOutcome().Clean()) {
    std::fprintf(stderr, "kestrow_bench_drive: the recovery did not end cleanly\n");
    return 1;
  }
  PrintFigures("job", job);

  std::uint64_t needed = job.distinct;
  if (withSimple) {
    MeasuredDrive simple = OpenDrive(image);
    const fs::path simpleOut = FreshFolder(scratch / "simple");
    started = std::chrono::steady_clock::now();
    const reference::JobResult result = reference::RunJob(*simple.core, files, AsDestination(simpleOut));
    const Figures slow = Collect(*simple.drive, started);
    PrintFigures("simple worker", slow);
    needed = slow.distinct;
    const bool same = result.state == RecoveryState::kFinished && SameTree(fastOut, simpleOut);
    std::printf("  job / simple worker: x%.1f fewer READ CD, x%.1f less drive time; output files %s\n",
                job.commands ? static_cast<double>(slow.commands) / static_cast<double>(job.commands) : 0.0,
                job.driveSeconds > 0 ? slow.driveSeconds / job.driveSeconds : 0.0,
                same ? "identical" : "DIFFERENT");
    fs::remove_all(simpleOut);
    if (!same) return 1;
  } else {
    std::printf("  (simple worker skipped: the sectors needed are taken as those the job read)\n");
  }
  PrintAgainstStreaming("recovery", job, needed, fast.drive->costs());
  fs::remove_all(fastOut);
  return 0;
}

int Dump(const std::string& image, const fs::path& scratch) {
  MeasuredDrive dump = OpenDrive(image);
  WholeDisc callbacks;
  const fs::path file = scratch / "dump.bin";
  const auto started = std::chrono::steady_clock::now();
  const bool ok = dump.core->DumpSectors(file.string(), callbacks);
  const Figures figures = Collect(*dump.drive, started);
  fs::remove(file);
  if (!ok) {
    std::fprintf(stderr, "kestrow_bench_drive: the dump failed\n");
    return 1;
  }
  std::printf("\nDump of the whole disc (%u sectors) through the simulated drive\n", callbacks.sectors());
  PrintFigures("dump", figures);
  PrintAgainstStreaming("dump", figures, callbacks.sectors(), dump.drive->costs());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DISC.bin SCRATCH-FOLDER [--no-simple]\n", argv[0]);
    return 2;
  }
  const std::string image = argv[1];
  const fs::path scratch = FreshFolder(argv[2]);
  const bool withSimple = !(argc > 3 && std::string(argv[3]) == "--no-simple");
  const int recovery = Recovery(image, scratch, withSimple);
  const int dump = Dump(image, scratch);
  fs::remove_all(scratch);
  return recovery != 0 ? recovery : dump;
}
