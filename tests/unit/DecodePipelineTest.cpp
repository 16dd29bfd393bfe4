// The recovery job's pipeline: every block of a batch is decoded before the
// batch is written, batches are written once each and in order, the budget
// holds what is in flight, and a write that throws reaches the caller; the
// writer's helper runs each task once and hands a failure back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "recovery/DecodePipeline.h"
#include "recovery/HelperThread.h"
#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

// A batch of plain-stored blocks, each copied from `source` into its own
// 8,192 bytes of `out`, that records what its write step saw.
struct Log {
  std::mutex lock;
  std::vector<int> written;
  std::size_t mostInFlight = 0;
  std::atomic<std::size_t> inFlight{0};
  bool undecodedSeen = false;
};

class CopyBatch : public DecodeBatch {
 public:
  CopyBatch(int id, std::size_t count, const std::vector<std::uint8_t>& source, Log& log, bool fail = false)
      : m_id(id), m_out(count * format::kBlockSize, 0), m_log(log), m_fail(fail) {
    weight = 1;
    for (std::size_t i = 0; i < count; ++i) {
      const auto at = static_cast<std::int64_t>(i * format::kBlockSize);
      blocks.push_back(DecodeBlock{source, BlockCopy{0, 0, format::kBlockSize, 0, at, format::kBlockSize}, m_out.data()});
    }
    const std::size_t now = ++m_log.inFlight;
    std::lock_guard<std::mutex> guard(m_log.lock);
    m_log.mostInFlight = std::max(m_log.mostInFlight, now);
  }
  void Write() override {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a slow disk
    std::lock_guard<std::mutex> guard(m_log.lock);
    for (std::uint8_t byte : m_out) m_log.undecodedSeen = m_log.undecodedSeen || byte != 0xA5;
    m_log.written.push_back(m_id);
    if (m_fail) throw std::runtime_error("disk full");
  }
  ~CopyBatch() override { --m_log.inFlight; }

 private:
  int m_id;
  std::vector<std::uint8_t> m_out;
  Log& m_log;
  bool m_fail;
};

TEST(DecodePipeline, WritesEveryBatchOnceInOrderAfterItsBlocksWithinTheBudget) {
  const std::vector<std::uint8_t> source(format::kBlockSize, 0xA5);
  Log log;
  std::vector<int> expected;
  {
    DecodePipeline pipeline(3, 4);  // four batches of weight 1 in flight at most
    for (int id = 0; id < 40; ++id) {
      pipeline.Submit(std::make_unique<CopyBatch>(id, static_cast<std::size_t>(id % 7) * 5, source, log));
      expected.push_back(id);
      if (id == 19) {
        pipeline.Drain();
        std::lock_guard<std::mutex> guard(log.lock);
        EXPECT_EQ(log.written.size(), 20u) << "Drain returned before every batch was written";
      }
    }
  }  // the rest are written before the pipeline ends
  EXPECT_EQ(log.written, expected);
  EXPECT_FALSE(log.undecodedSeen) << "a batch was written before all of its blocks were decoded";
  EXPECT_LE(log.mostInFlight, 5u);  // four handed over, one being made
}

TEST(DecodePipeline, AWriteThatThrowsReachesTheCallerAndNothingAfterItIsWritten) {
  const std::vector<std::uint8_t> source(format::kBlockSize, 0xA5);
  Log log;
  DecodePipeline pipeline(2, 100);
  pipeline.Submit(std::make_unique<CopyBatch>(0, 2, source, log, true));
  pipeline.Submit(std::make_unique<CopyBatch>(1, 2, source, log));
  EXPECT_THROW(pipeline.Drain(), std::runtime_error);
  EXPECT_NO_THROW(pipeline.Drain()) << "the failure is given once";
  std::lock_guard<std::mutex> guard(log.lock);
  EXPECT_EQ(log.written, std::vector<int>{0});
}

TEST(HelperThread, RunsEveryTaskOnceAndRethrowsAFailureAfterTheRest) {
  HelperThread helper;
  struct Case {
    std::size_t count;
    std::size_t throwsAt;  // count: none throws
  };
  for (const Case c : {Case{0, 0}, Case{1, 1}, Case{2, 2}, Case{200, 200}, Case{200, 7}, Case{1, 0}}) {
    std::vector<std::atomic<int>> runs(c.count);
    const std::function<void(std::size_t)> task = [&](std::size_t i) {
      ++runs[i];
      if (i == c.throwsAt) throw std::runtime_error("disk full");
    };
    if (c.throwsAt < c.count) {
      EXPECT_THROW(helper.ForEach(c.count, task), std::runtime_error) << c.count;
    } else {
      EXPECT_NO_THROW(helper.ForEach(c.count, task)) << c.count;
    }
    for (std::size_t i = 0; i < c.count; ++i) EXPECT_EQ(runs[i].load(), 1) << "task " << i << " of " << c.count;
  }
}

}  // namespace
}  // namespace kestrow
