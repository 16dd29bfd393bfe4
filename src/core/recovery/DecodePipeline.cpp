#include "recovery/DecodePipeline.h"

#include <algorithm>
#include <array>
#include <utility>

#include "volume/PackedFormat.h"

namespace kestrow {

namespace {

// Blocks a decoder takes at a time: enough that taking them costs nothing
// beside decoding them, few enough that a small batch is shared out.
constexpr std::size_t kBlocksPerTake = 8;

}  // namespace

unsigned DecodePipeline::DecodersForThisMachine() {
  return std::clamp(std::thread::hardware_concurrency(), 1U, 64U);
}

DecodePipeline::DecodePipeline(unsigned decoders, std::size_t budget) : m_budget(budget) {
  try {
    m_threads.emplace_back([this] { WriteInOrder(); });
    for (unsigned i = 0; i < std::max(decoders, 1U); ++i) m_threads.emplace_back([this] { Decode(); });
  } catch (...) {
    Quit();
    throw;
  }
}

DecodePipeline::~DecodePipeline() {
  {
    std::unique_lock<std::mutex> lock(m_lock);
    m_room.wait(lock, [this] { return m_queue.empty() && !m_writing; });
  }
  Quit();
}

void DecodePipeline::Quit() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_quit = true;
  }
  m_work.notify_all();
  m_decoded.notify_all();
  for (std::thread& thread : m_threads) thread.join();
  m_threads.clear();
}

void DecodePipeline::RethrowFailure() {
  if (m_failure) std::rethrow_exception(std::exchange(m_failure, nullptr));
}

void DecodePipeline::Submit(std::unique_ptr<DecodeBatch> batch) {
  const std::size_t weight = batch->weight;
  const std::size_t blocks = batch->blocks.size();
  {
    std::unique_lock<std::mutex> lock(m_lock);
    m_room.wait(lock, [&] { return m_inFlight == 0 || m_inFlight + weight <= m_budget; });
    RethrowFailure();
    m_inFlight += weight;
    m_queue.push_back(Queued{std::move(batch), 0, blocks});
  }
  if (blocks > 0) m_work.notify_all();
  m_decoded.notify_one();  // a batch without blocks is ready at once
}

void DecodePipeline::Drain() {
  std::unique_lock<std::mutex> lock(m_lock);
  m_room.wait(lock, [this] { return m_queue.empty() && !m_writing; });
  RethrowFailure();
}

void DecodePipeline::Decode() {
  std::array<std::uint8_t, format::kBlockSize> scratch{};
  for (;;) {
    Queued* taken = nullptr;
    std::size_t first = 0;
    std::size_t count = 0;
    {
      std::unique_lock<std::mutex> lock(m_lock);
      m_work.wait(lock, [&] {
        if (m_quit) return true;
        const auto open = std::find_if(m_queue.begin(), m_queue.end(),
                                       [](const Queued& q) { return q.next < q.batch->blocks.size(); });
        if (open == m_queue.end()) return false;
        taken = &*open;
        return true;
      });
      if (!taken) return;  // quit
      first = taken->next;
      count = std::min(kBlocksPerTake, taken->batch->blocks.size() - first);
      taken->next += count;
    }
    // The batch stays queued while a block of it is not decoded.
    for (std::size_t i = first; i < first + count; ++i) {
      const DecodeBlock& block = taken->batch->blocks[i];
      CopyBlock(block.group, block.copy, block.out, scratch.data());
    }
    bool oldestDone = false;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      taken->left -= count;
      oldestDone = taken->left == 0 && taken == &m_queue.front();
    }
    if (oldestDone) m_decoded.notify_one();
  }
}

void DecodePipeline::WriteInOrder() {
  for (;;) {
    std::unique_ptr<DecodeBatch> batch;
    bool write = false;
    {
      std::unique_lock<std::mutex> lock(m_lock);
      m_decoded.wait(lock, [this] { return m_quit || (!m_queue.empty() && m_queue.front().left == 0); });
      if (m_queue.empty() || m_queue.front().left != 0) return;  // quit
      batch = std::move(m_queue.front().batch);
      m_queue.pop_front();
      m_writing = true;
      write = !m_failed;
    }
    std::exception_ptr failure;
    if (write) {
      try {
        batch->Write();
      } catch (...) {  // handed to the caller's thread: nothing may leave this one
        failure = std::current_exception();
      }
    }
    const std::size_t weight = batch->weight;
    batch.reset();  // its memory goes back before the room is counted
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_writing = false;
      m_inFlight -= weight;
      if (failure) {
        m_failed = true;
        m_failure = failure;
      }
    }
    m_room.notify_all();
  }
}

}  // namespace kestrow
