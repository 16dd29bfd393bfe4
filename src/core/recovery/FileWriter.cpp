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
    m_waiting = std::move(file);
  }
  m_changed.notify_all();
}

void FileWriter::Drain() {
  std::unique_lock<std::mutex> lock(m_lock);
  m_changed.wait(lock, [this] { return Idle(); });
}

std::vector<std::uint8_t> FileWriter::TakeBuffer() {
  std::lock_guard<std::mutex> lock(m_lock);
  return std::exchange(m_spare, {});
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
    m_write(file);
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_busy = false;
      m_spare = std::move(file.data);
    }
    m_changed.notify_all();
  }
}

}  // namespace kestrow
