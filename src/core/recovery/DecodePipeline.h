// A recovery job's files on their way from the disc to the output folder.
//
// The reader hands them over in batches: the blocks to decode, each into a
// place of its own, and the step that writes the batch's files. Decoders,
// one per hardware thread, decode the blocks of the oldest batches a few at
// a time, so that every core decodes while the reader reads on; a writer
// thread runs each batch's write step once all of its blocks are decoded,
// batch after batch in the order they were handed over.
//
// Memory is bounded: a batch is handed over only while the batches not yet
// written weigh at most the budget (one heavier batch goes alone).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "recovery/ExtractRange.h"

namespace kestrow {

// One block to decode: `copy` of `group`, into `out` + copy.at.
struct DecodeBlock {
  GroupView group;
  BlockCopy copy;
  std::uint8_t* out = nullptr;
};

class DecodeBatch {
 public:
  virtual ~DecodeBatch() = default;
  // Runs on the writer's thread once every block is decoded.
  virtual void Write() = 0;

  std::vector<DecodeBlock> blocks;  // no two write the same byte
  std::size_t weight = 0;           // the bytes it holds, for the budget
};

class DecodePipeline {
 public:
  // `decoders` threads (at least one) and a budget of `budget` bytes in
  // flight. Throws std::system_error when a thread cannot start.
  DecodePipeline(unsigned decoders, std::size_t budget);
  // Writes what was handed over, then ends the threads.
  ~DecodePipeline();
  DecodePipeline(const DecodePipeline&) = delete;
  DecodePipeline& operator=(const DecodePipeline&) = delete;

  // One decoder per hardware thread.
  static unsigned DecodersForThisMachine();

  // Hands a batch over, once the budget has room for it. A write step that
  // threw is not lost: the next Submit or Drain throws it on the caller's
  // thread, and no batch after it is written.
  void Submit(std::unique_ptr<DecodeBatch> batch);
  // Waits until every batch handed over is written.
  void Drain();

 private:
  struct Queued {
    std::unique_ptr<DecodeBatch> batch;
    std::size_t next = 0;  // the first block no decoder has taken
    std::size_t left = 0;  // the blocks not decoded yet
  };

  void Decode();
  void WriteInOrder();
  void Quit();
  // Throws what a write step threw, once. Called under m_lock.
  void RethrowFailure();

  const std::size_t m_budget;
  std::mutex m_lock;
  std::condition_variable m_work;     // a block to decode, or quit
  std::condition_variable m_decoded;  // the oldest batch is decoded, or quit
  std::condition_variable m_room;     // a batch was written
  std::deque<Queued> m_queue;         // handed over, not yet taken by the writer
  std::size_t m_inFlight = 0;         // the weight handed over and not written
  bool m_writing = false;
  bool m_quit = false;
  bool m_failed = false;              // a write step threw: nothing more is written
  std::exception_ptr m_failure;       // what it threw, until the caller sees it
  std::vector<std::thread> m_threads;  // last: they start once the members above exist
};

}  // namespace kestrow
