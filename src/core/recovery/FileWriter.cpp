#include "recovery/FileWriter.h"

#include <utility>

namespace kestrow {

FileWriter::FileWriter(std::function<void(File&)> write)
    : m_write(std::move(write)), m_thread([this] { Run(); }) {}

FileWriter::~FileWriter() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_quit = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

void FileWriter::Submit(File file) {
  {
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [this] { return Idle(); });
    RethrowFailure();
    m_waiting = std::move(file);
  }
  m_changed.notify_all();
}

void FileWriter::Drain() {
  std::unique_lock<std::mutex> lock(m_lock);
  m_changed.wait(lock, [this] { return Idle(); });
  RethrowFailure();
}

void FileWriter::RethrowFailure() {
  if (m_failure) std::rethrow_exception(std::exchange(m_failure, nullptr));
}

std::vector<std::uint8_t> FileWriter::TakeBuffer() {
  std::lock_guard<std::mutex> lock(m_lock);
  return std::exchange(m_spare, {});
}

void FileWriter::GiveBackBuffer(std::vector<std::uint8_t> buffer) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_spare.capacity() < buffer.capacity()) m_spare = std::move(buffer);
}

void FileWriter::Run() {
  for (;;) {
    File file;
    {
      std::unique_lock<std::mutex> lock(m_lock);
      m_changed.wait(lock, [this] { return m_waiting.has_value() || m_quit; });
      if (!m_waiting) return;  // quit, with nothing left to write
      file = std::move(*m_waiting);
      m_waiting.reset();
      m_busy = true;
    }
    std::exception_ptr failure;
    try {
      m_write(file);
    } catch (...) {  // handed to the caller's thread: nothing may leave this one
      failure = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_busy = false;
      m_spare = std::move(file.data);
      if (failure && !m_failure) m_failure = failure;
    }
    m_changed.notify_all();
  }
}

}  // namespace kestrow
