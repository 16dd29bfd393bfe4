// A bounds-checked big-endian reader over bytes that came from a disc.
//
// Every on-disc integer is big-endian and is assembled byte by byte. Each read
// names the offset it wants; a read that would leave the span yields nothing
// (std::nullopt) instead of touching memory outside it, so a parser built on
// this cannot read outside its node, table or buffer by construction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kestrow {

class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

  std::size_t size() const { return m_bytes.size(); }
  std::span<const std::uint8_t> bytes() const { return m_bytes; }

  // True when [offset, offset + length) lies inside the span. Safe against
  // overflow for any offset and length.
  bool has(std::size_t offset, std::size_t length) const {
    return offset <= m_bytes.size() && length <= m_bytes.size() - offset;
  }

  std::optional<std::uint8_t> u8(std::size_t offset) const {
    if (!has(offset, 1)) return std::nullopt;
    return m_bytes[offset];
  }
  std::optional<std::uint32_t> be16(std::size_t offset) const { return be(offset, 2); }
  std::optional<std::uint32_t> be24(std::size_t offset) const { return be(offset, 3); }
  std::optional<std::uint32_t> be32(std::size_t offset) const { return be(offset, 4); }

  // The sub-range [offset, offset + length), or nullopt when it does not fit.
  std::optional<ByteReader> sub(std::size_t offset, std::size_t length) const {
    if (!has(offset, length)) return std::nullopt;
    return ByteReader(m_bytes.subspan(offset, length));
  }

  // True when the bytes at offset equal `text` (no terminating NUL compared).
  template <std::size_t N>
  bool matches(std::size_t offset, const char (&text)[N]) const {
    constexpr std::size_t length = N - 1;
    if (!has(offset, length)) return false;
    for (std::size_t i = 0; i < length; ++i) {
      if (m_bytes[offset + i] != static_cast<std::uint8_t>(text[i])) return false;
    }
    return true;
  }

 private:
  std::optional<std::uint32_t> be(std::size_t offset, std::size_t width) const {
    if (!has(offset, width)) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value = (value << 8) | m_bytes[offset + i];
    return value;
  }

  std::span<const std::uint8_t> m_bytes;
};

// Writers used by the image builders and tests: the mirror of the reads above.
inline void PutBe16(std::uint8_t* out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value >> 8);
  out[1] = static_cast<std::uint8_t>(value);
}
inline void PutBe24(std::uint8_t* out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value >> 16);
  out[1] = static_cast<std::uint8_t>(value >> 8);
  out[2] = static_cast<std::uint8_t>(value);
}
inline void PutBe32(std::uint8_t* out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value >> 24);
  out[1] = static_cast<std::uint8_t>(value >> 16);
  out[2] = static_cast<std::uint8_t>(value >> 8);
  out[3] = static_cast<std::uint8_t>(value);
}

}  // namespace kestrow
