// Buffers given back by the thread that used them, for the next one to fill:
// their memory is not given back to the system and faulted in again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace kestrow {

class BufferPool {
 public:
  // Keeps at most `most` buffers.
  explicit BufferPool(std::size_t most) : m_most(most) {}

  // A kept buffer whose capacity holds `bytes` (the smallest such), else an
  // empty one.
  std::vector<std::uint8_t> Take(std::size_t bytes) {
    std::lock_guard<std::mutex> lock(m_lock);
    auto best = m_kept.end();
    for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
      if (it->capacity() >= bytes && (best == m_kept.end() || it->capacity() < best->capacity())) best = it;
    }
    if (best == m_kept.end()) return {};
    std::vector<std::uint8_t> buffer = std::move(*best);
    m_kept.erase(best);
    return buffer;
  }

  // Keeps `buffer` when there is room (in place of a smaller one when full).
  void Give(std::vector<std::uint8_t> buffer) {
    if (buffer.capacity() == 0) return;
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_kept.size() < m_most) {
      m_kept.push_back(std::move(buffer));
      return;
    }
    for (std::vector<std::uint8_t>& kept : m_kept) {
      if (kept.capacity() < buffer.capacity()) {
        std::swap(kept, buffer);
        break;
      }
    }
    // `buffer`, now the smallest kept or not, is freed.
  }

 private:
  const std::size_t m_most;
  std::mutex m_lock;
  std::vector<std::vector<std::uint8_t>> m_kept;
};

}  // namespace kestrow
