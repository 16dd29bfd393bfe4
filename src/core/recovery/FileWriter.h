// Writes a recovery job's files on a thread of its own, one at a time and in
// the order they were handed over, so that the worker reads and decodes the
// next file while the last one goes to disk.
//
// Two buffers go round: the one being written and the one the worker fills.
// The buffer of a written file comes back for the next file, so its memory is
// not given back and faulted in again. A large file is only decoded while no
// other file is held, so at most one buffer is ever larger than kLargeFile.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "Spans.h"
#include "volume/FileEntry.h"

namespace kestrow {

class FileWriter {
 public:
  struct File {
    std::size_t index = 0;  // in the job
    FileEntry entry;
    std::vector<std::uint8_t> data;  // the file's bytes are its first `length`
    std::size_t length = 0;
    bool complete = true;  // every byte came from a block on the disc
    std::vector<ByteSpan> lostRanges;  // the bytes that did not, when not complete
    std::vector<std::uint8_t> rsrcData;  // the resource fork, when the job copies it out
    std::vector<ByteSpan> rsrcLostRanges;  // of the resource fork, when the job copies it out
  };

  // A file of more bytes than this is decoded only once the writer is idle.
  static constexpr std::size_t kLargeFile = std::size_t{16} * 1024 * 1024;

  // `write` runs on the writer's thread, once per file, in order. An
  // exception it throws is not lost: the next Submit or Drain throws it on
  // the caller's thread. Throws std::system_error when the thread cannot start.
  explicit FileWriter(std::function<void(File&)> write);
  // Writes what was handed over, then ends the thread.
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // Waits until the file handed over before is written, then hands this one over.
  void Submit(File file);
  // Waits until every file handed over is written.
  void Drain();
  // The buffer of the last file written, to fill with the next one; empty
  // when there is none.
  std::vector<std::uint8_t> TakeBuffer();
  // Hands back a buffer taken for a file that was not written after all.
  void GiveBackBuffer(std::vector<std::uint8_t> buffer);

 private:
  void Run();
  bool Idle() const { return !m_waiting && !m_busy; }
  // Throws what the write callback threw, once. Called under m_lock.
  void RethrowFailure();

  std::function<void(File&)> m_write;
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::optional<File> m_waiting;      // handed over, not yet taken up
  bool m_busy = false;                // a file is being written
  bool m_quit = false;
  std::vector<std::uint8_t> m_spare;  // a written file's buffer
  std::exception_ptr m_failure;       // what the write callback threw
  std::thread m_thread;               // last: starts once the members above exist
};

}  // namespace kestrow
