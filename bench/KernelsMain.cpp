// Runs the kernel benchmarks and then prints the ratios of figures measured
// side by side in this same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "BenchCorpus.h"

namespace {

struct Figure {
  double bytesPerSecond = 0;
  double realMilliseconds = 0;
};

// The console output as usual, and every run's figures kept by name.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      Figure figure;
      const auto bytes = run.counters.find("bytes_per_second");
      if (bytes != run.counters.end()) figure.bytesPerSecond = bytes->second.value;
      figure.realMilliseconds =
          run.GetAdjustedRealTime() * 1e3 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      m_figures[run.benchmark_name()] = figure;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  const Figure* Find(const std::string& name) const {
    const auto found = m_figures.find(name);
    return found == m_figures.end() ? nullptr : &found->second;
  }

 private:
  std::map<std::string, Figure> m_figures;
};

void PrintLzsRatios(const CollectingReporter& reporter) {
  const Figure* copy = reporter.Find("memcpy/mixed");
  const Figure* slow = reporter.Find("lzs_reference/mixed");
  std::printf("\nLZS decoding of 8 KiB blocks (MB/s of output; memcpy of the same bytes %s)\n",
              copy ? (std::to_string(static_cast<long>(copy->bytesPerSecond / 1e6)) + " MB/s").c_str() : "not run");
  std::printf("  %-8s %10s %14s %16s\n", "corpus", "MB/s", "/ memcpy", "x bit-by-bit");
  for (const char* kind : {"mixed", "text", "binary", "zeros", "random"}) {
    const Figure* fast = reporter.Find(std::string("lzs_decode/") + kind);
    if (fast == nullptr) continue;
    std::printf("  %-8s %10.0f", kind, fast->bytesPerSecond / 1e6);
    if (copy) std::printf(" %14.3f", fast->bytesPerSecond / copy->bytesPerSecond);
    if (slow && std::string(kind) == "mixed") std::printf(" %16.2f", fast->bytesPerSecond / slow->bytesPerSecond);
    std::printf("\n");
  }
  for (const char* kind : {"mixed", "text"}) {
    if (const Figure* fast = reporter.Find(std::string("lzs_decode/") + kind)) {
      std::printf("  target: >= 1000 MB/s on the %s corpus: %s\n", kind, fast->bytesPerSecond >= 1e9 ? "met" : "NOT met");
    }
  }
  std::printf("  corpus: %s\n", kestrow::bench::CorpusSourceNote().c_str());
}

void PrintCatalogFigures(const CollectingReporter& reporter) {
  const Figure* both = reporter.Find("catalog/scan_and_paths");
  if (both == nullptr) return;
  std::printf("\nCatalogue of 100,000 files in 20,000 folders\n");
  std::printf("  scan + paths %8.1f ms  (target < 1000 ms: %s)\n", both->realMilliseconds,
              both->realMilliseconds < 1000 ? "met" : "NOT met");
  if (const Figure* scan = reporter.Find("catalog/scan_records")) std::printf("  scan only    %8.1f ms\n", scan->realMilliseconds);
  if (const Figure* paths = reporter.Find("catalog/build_paths")) std::printf("  paths only   %8.1f ms\n", paths->realMilliseconds);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  PrintLzsRatios(reporter);
  PrintCatalogFigures(reporter);
  return 0;
}
