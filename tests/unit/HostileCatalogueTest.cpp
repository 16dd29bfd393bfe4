// A hostile catalogue listed under a memory limit: the disc of
// tests/fuzz/make-hostile-catalogue.py (in the disc fuzzer's corpus), whose
// 64 catalogue nodes repeat one file record 128 times, the file's data fork
// having 40,000 overflow extents. Read naively that is 8,191 copies of the
// file with 40,000 extents each, some 2.6 GB; the list must hold the file
// once, within memory proportional to the catalogue.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <new>

#include "KestrowCore.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KESTROW_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KESTROW_UNDER_SANITIZER 1
#endif
#endif

namespace kestrow {
namespace {

constexpr std::size_t kOverflowExtents = 40000;
constexpr rlim_t kHeadroom = rlim_t{256} << 20;

// The address space this process holds now, in bytes.
rlim_t AddressSpaceInUse() {
  long pages = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm != nullptr) {
    if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  return static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

// Runs in the child, under the limit: 0 when the list is as it must be.
int ListUnderLimit(const std::string& disc) {
  const rlim_t limit = AddressSpaceInUse() + kHeadroom;
  const struct rlimit cap {limit, limit};
  if (setrlimit(RLIMIT_AS, &cap) != 0) return 10;
  try {
    CKestrowCore core(disc);
    VolumeImage image;
    FileTable files;
    if (!core.LoadVolumeImage(image)) return 11;
    if (!core.ScanCatalog(image, files)) return 12;
    if (files.size() != 1) return 13;  // one file ID, once
    if (files[0].dataOverflowExtents.size() != kOverflowExtents) return 14;
  } catch (const std::bad_alloc&) {
    return 15;
  }
  return 0;
}

TEST(HostileCatalogue, IsListedOnceWithinAMemoryLimit) {
#if defined(KESTROW_UNDER_SANITIZER)
  GTEST_SKIP() << "the sanitizers reserve far more address space than the limit this test sets";
#endif
  const std::string disc = std::string(KESTROW_FIXTURES_DIR) + "/../fuzz/corpus/DiscFuzzer/hostile-catalogue.bin";
  ASSERT_TRUE(std::filesystem::exists(disc)) << disc;
  // The limit holds in a child process only, so that no other test meets it.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(ListUnderLimit(disc));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the listing was killed by signal " << WTERMSIG(status);
  // 13: copies of the file; 14: its extents not once; 15: out of memory.
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace kestrow
#endif  // setrlimit and fork are POSIX's
