// The recovery job's writer thread: every file handed over is written once,
// in order, and a small file's buffer comes back for the next one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "recovery/FileWriter.h"

namespace kestrow {
namespace {

FileWriter::File MakeFile(std::size_t index, std::size_t size) {
  FileWriter::File file;
  file.index = index;
  file.data.assign(size, static_cast<std::uint8_t>(index));
  return file;
}

TEST(RecoveryFileWriter, WritesEveryFileOnceInOrderAndDrainWaitsForThem) {
  std::mutex lock;
  std::vector<std::size_t> order;
  std::atomic<int> writing{0};
  bool overlapped = false;
  FileWriter writer([&](FileWriter::File& file) {
    if (writing.fetch_add(1) != 0) overlapped = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // a slow disk
    EXPECT_EQ(file.data, std::vector<std::uint8_t>(file.data.size(), static_cast<std::uint8_t>(file.index)));
    {
      std::lock_guard<std::mutex> guard(lock);
      order.push_back(file.index);
    }
    writing.fetch_sub(1);
  });
  for (std::size_t i = 0; i < 20; ++i) writer.Submit(MakeFile(i, 100 + i));
  writer.Drain();
  std::vector<std::size_t> expected(20);
  for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = i;
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(order, expected);
  EXPECT_FALSE(overlapped) << "two files were written at once";
}

TEST(RecoveryFileWriter, LendsTheWrittenBufferOnceToTheNextFile) {
  FileWriter writer([](FileWriter::File&) {});
  FileWriter::File first = MakeFile(0, 4096);
  const std::uint8_t* firstBytes = first.data.data();
  writer.Submit(std::move(first));
  writer.Drain();
  const std::vector<std::uint8_t> lent = writer.TakeBuffer();
  EXPECT_EQ(lent.data(), firstBytes);
  EXPECT_TRUE(writer.TakeBuffer().empty()) << "a buffer was lent twice";
}

TEST(RecoveryFileWriter, WritesWhatWasHandedOverBeforeItEnds) {
  std::atomic<int> written{0};
  {
    FileWriter writer([&](FileWriter::File&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      ++written;
    });
    writer.Submit(MakeFile(0, 1));
    writer.Submit(MakeFile(1, 1));
  }
  EXPECT_EQ(written.load(), 2);
}

}  // namespace
}  // namespace kestrow
