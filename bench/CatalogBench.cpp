// The catalogue scan and path reconstruction over a catalogue of 100,000
// files in 20,000 folders.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "BenchCorpus.h"
#include "KestrowCore.h"
#include "MemoryTransport.h"
#include "volume/CatalogScan.h"

namespace kestrow::bench {
namespace {

struct Catalog {
  std::vector<std::uint8_t> image;
  std::size_t folders = 0;
  std::size_t files = 0;
};

const Catalog& TheCatalog() {
  static const Catalog catalog = [] {
    Catalog c;
    c.image = MakeCatalogImage(CatalogShape{}, c.folders, c.files);
    return c;
  }();
  return catalog;
}

void SetCatalogCounters(benchmark::State& state, std::size_t rows) {
  const Catalog& catalog = TheCatalog();
  state.counters["files"] = static_cast<double>(catalog.files);
  state.counters["folders"] = static_cast<double>(catalog.folders);
  state.counters["image_MB"] = static_cast<double>(catalog.image.size()) / 1e6;
  if (rows != catalog.files) state.SkipWithError("the scan did not find every file");
}

// What the list and recover commands do after loading the volume area.
void ScanAndPaths(benchmark::State& state) {
  const Catalog& catalog = TheCatalog();
  CKestrowCore core(std::make_unique<MemoryTransport>(std::vector<std::uint8_t>(2048, 0)));
  std::size_t rows = 0;
  for (auto _ : state) {
    FileTable files;
    if (!core.ScanCatalog(catalog.image, files)) state.SkipWithError("ScanCatalog failed");
    rows = files.size();
    benchmark::DoNotOptimize(files.data());
  }
  SetCatalogCounters(state, rows);
}

void ScanOnly(benchmark::State& state) {
  const Catalog& catalog = TheCatalog();
  std::size_t rows = 0;
  for (auto _ : state) {
    CatalogRecords records = ScanCatalogRecords(catalog.image);
    rows = records.files.size();
    benchmark::DoNotOptimize(records.files.data());
  }
  SetCatalogCounters(state, rows);
}

void PathsOnly(benchmark::State& state) {
  const CatalogRecords records = ScanCatalogRecords(TheCatalog().image);
  for (auto _ : state) {
    state.PauseTiming();
    FileTable files = records.files;
    state.ResumeTiming();
    BuildFilePaths(files, records.dirs);
    benchmark::DoNotOptimize(files.data());
  }
  SetCatalogCounters(state, records.files.size());
}

[[maybe_unused]] const bool kRegistered = [] {
  benchmark::RegisterBenchmark("catalog/scan_and_paths", ScanAndPaths)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("catalog/scan_records", ScanOnly)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("catalog/build_paths", PathsOnly)->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace
}  // namespace kestrow::bench
