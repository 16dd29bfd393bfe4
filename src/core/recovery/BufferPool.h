// Buffers given back by the thread that used them, for the next one to fill:
// their memory is not given back to the system and faulted in again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <mutex>
#include <new>
#include <vector>

namespace kestrow {

// An allocator whose resize() leaves new bytes as they are instead of zeroing
// them: for memory whose every byte is written before it is read.
template <class T>
struct UninitializedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  UninitializedAllocator() = default;
  template <class U>
  UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* at) noexcept {
    ::new (static_cast<void*>(at)) U;
  }
  template <class U, class... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
};

// Bytes not zeroed when they are allocated.
using UninitializedBytes = std::vector<std::uint8_t, UninitializedAllocator<std::uint8_t>>;

template <class Buffer>
class BasicBufferPool {
 public:
  // Keeps at most `most` buffers.
  explicit BasicBufferPool(std::size_t most) : m_most(most) {}

  // A kept buffer whose capacity holds `bytes` (the smallest such), else an
  // empty one.
  Buffer Take(std::size_t bytes) {
    std::lock_guard<std::mutex> lock(m_lock);
    auto best = m_kept.end();
    for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
      if (it->capacity() >= bytes && (best == m_kept.end() || it->capacity() < best->capacity())) best = it;
    }
    if (best == m_kept.end()) return {};
    Buffer buffer = std::move(*best);
    m_kept.erase(best);
    return buffer;
  }

  // Keeps `buffer` when there is room (in place of a smaller one when full).
  void Give(Buffer buffer) {
    if (buffer.capacity() == 0) return;
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_kept.size() < m_most) {
      m_kept.push_back(std::move(buffer));
      return;
    }
    for (Buffer& kept : m_kept) {
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
  std::vector<Buffer> m_kept;
};

using BufferPool = BasicBufferPool<std::vector<std::uint8_t>>;

}  // namespace kestrow
