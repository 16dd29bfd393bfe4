#include "recovery/VolumeAssembler.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "recovery/SalvagedVolume.h"
#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

constexpr std::uint64_t kVolumeOffset = format::kVolumeOffset;
constexpr std::uint64_t kMdbBegin = format::kMdbVolumeOffset;
constexpr std::uint64_t kMdbEnd = kMdbBegin + format::kMdbSize;
constexpr std::uint64_t kEverything = std::numeric_limits<std::uint64_t>::max();

std::optional<MasterDirectoryBlock> MdbIn(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < format::kMdbSize || bytes[0] != 'B' || bytes[1] != 'D') return std::nullopt;
  MasterDirectoryBlock mdb;
  std::memcpy(mdb.bytes.data(), bytes.data(), format::kMdbSize);
  return mdb;
}

}  // namespace

VolumeAssembler::VolumeAssembler(ImageSink& sink, std::span<const std::uint8_t> area,
                                 std::vector<ByteSpan> areaUnreadable, std::optional<ListedVolume> listed)
    : m_sink(sink), m_area(area), m_areaUnreadable(MergeSpans(std::move(areaUnreadable))), m_listed(std::move(listed)) {
  // The area's bytes, and the primary master directory block's sector, are
  // held at least; the block may say that the metadata reaches further.
  m_heldEnd = std::max<std::uint64_t>(area.size(), kMdbSectorEnd);
  m_image.assign(static_cast<std::size_t>(kVolumeOffset + m_heldEnd), 0);
}

std::span<std::uint8_t> VolumeAssembler::HeldVolume() {
  return std::span<std::uint8_t>(m_image).subspan(static_cast<std::size_t>(kVolumeOffset),
                                                  static_cast<std::size_t>(m_heldEnd));
}

bool VolumeAssembler::Fail(UnpackFailure failure, std::string text) {
  m_failure = failure;
  m_failureText = std::move(text);
  return false;
}

bool VolumeAssembler::Append(std::span<const std::uint8_t> bytes) {
  std::string error;
  if (!m_sink.Append(bytes, error)) return Fail(UnpackFailure::kCannotWrite, error);
  m_written += bytes.size();
  return true;
}

bool VolumeAssembler::AppendZeros(std::uint64_t count) {
  static const std::vector<std::uint8_t> zeros(std::size_t{64} * 1024, 0);
  while (count > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, zeros.size()));
    if (!Append(std::span<const std::uint8_t>(zeros.data(), n))) return false;
    count -= n;
  }
  return true;
}

bool VolumeAssembler::Put(std::uint64_t at, std::span<const std::uint8_t> bytes, const std::vector<ByteSpan>& lost,
                          const std::vector<ByteSpan>& absent) {
  if (m_failure != UnpackFailure::kNone) return false;
  const std::uint64_t end = at + bytes.size();
  if (end <= m_position) return true;
  if (at > m_position) {
    if (!m_flushed) m_missing.push_back({m_position, at});
    if (!Advance(at, nullptr)) return false;
  }
  const std::uint64_t from = m_position;
  const auto clipped = [&](const ByteSpan& span) {
    return ByteSpan{std::max(at + span.begin, from), std::min(at + span.end, end)};
  };
  for (const ByteSpan& span : lost) {
    const ByteSpan range = clipped(span);
    if (range.begin >= range.end) continue;
    m_lost.push_back(range);
    if (!m_flushed) m_missing.push_back(range);
  }
  if (!m_flushed) {
    for (const ByteSpan& span : absent) m_missing.push_back(clipped(span));
  }
  return Advance(end, bytes.data() + (from - at));
}

bool VolumeAssembler::PutLost(std::uint64_t at, std::uint64_t length) {
  std::vector<std::uint8_t> zeros;
  while (length > 0 && m_failure == UnpackFailure::kNone) {
    const std::uint64_t n = std::min<std::uint64_t>(length, std::uint64_t{1} << 20);
    zeros.assign(static_cast<std::size_t>(n), 0);
    if (!Put(at, zeros, {{0, n}})) return false;
    at += n;
    length -= n;
  }
  return m_failure == UnpackFailure::kNone;
}

bool VolumeAssembler::Advance(std::uint64_t to, const std::uint8_t* data) {
  while (m_position < to) {
    if (!m_flushed && m_position < m_heldEnd) {
      const std::uint64_t n = std::min(to, m_heldEnd) - m_position;
      std::uint8_t* held = m_image.data() + kVolumeOffset + m_position;
      if (data != nullptr) {
        std::memcpy(held, data, static_cast<std::size_t>(n));
        data += n;
      } else {
        std::memset(held, 0, static_cast<std::size_t>(n));
      }
      m_position += n;
      if (!m_mdbDecided && m_position >= kMdbEnd) DecideMdb();
      continue;
    }
    if (!m_flushed && !Flush()) return false;
    const std::uint64_t n = to - m_position;
    if (data != nullptr) {
      if (!Append(std::span<const std::uint8_t>(data, static_cast<std::size_t>(n)))) return false;
      data += n;
    } else if (!AppendZeros(n)) {
      return false;
    }
    m_position = to;
  }
  return true;
}

void VolumeAssembler::DecideMdb() {
  m_mdbDecided = true;
  // The packed copy's block when it was read and is one; else the area's.
  if (m_position >= kMdbEnd && !Overlaps(m_missing, kMdbBegin, kMdbEnd)) {
    m_mdb = MdbIn(HeldVolume().subspan(kMdbBegin, format::kMdbSize));
  }
  if (!m_mdb && m_area.size() >= kMdbEnd && !Overlaps(m_areaUnreadable, kMdbBegin, kMdbEnd)) {
    m_mdb = MdbIn(m_area.subspan(kMdbBegin, format::kMdbSize));
  }
  if (!m_mdb) return;
  const std::uint64_t reach = std::min<std::uint64_t>(MetadataEnd(*m_mdb),
                                                      static_cast<std::uint64_t>(kMaxPackedMetadataBytes));
  if (reach > m_heldEnd) {
    m_heldEnd = reach;
    m_image.resize(static_cast<std::size_t>(kVolumeOffset + m_heldEnd), 0);
  }
}

bool VolumeAssembler::Flush() {
  if (!m_mdbDecided) DecideMdb();
  if (!m_mdb) {
    return Fail(UnpackFailure::kUnknownFormat,
                "no master directory block could be read, from the volume area or from its copy in the packed data");
  }
  if (m_listed && (m_mdb->VolumeName() != m_listed->name || m_mdb->drCrDate() != m_listed->createDate)) {
    return Fail(UnpackFailure::kDifferentDisc,
                "the disc holds the volume \"" + m_mdb->VolumeName() + "\", not the one the list was read from");
  }
  // The two copies meet over the metadata.
  const std::uint64_t reach = std::min(std::max(MetadataEnd(*m_mdb), kMdbSectorEnd), m_heldEnd);
  const std::span<std::uint8_t> packed = HeldVolume().first(static_cast<std::size_t>(reach));
  const std::span<const std::uint8_t> area = m_area.first(static_cast<std::size_t>(std::min<std::uint64_t>(m_area.size(), reach)));
  m_meeting = MeetVolumeArea(packed, m_missing, area, m_areaUnreadable);
  if (!m_meeting.taken.empty()) m_lost = IntersectSpans(MergeSpans(m_lost), Uncovered(m_meeting.taken, kEverything));
  if (!Append(HeldVolume())) return false;
  m_flushed = true;
  m_missing.clear();
  return true;
}

bool VolumeAssembler::Finish(std::uint64_t packedEnd) {
  if (m_failure != UnpackFailure::kNone) return false;
  if (m_position < packedEnd) {
    if (!m_flushed) m_missing.push_back({m_position, packedEnd});
    if (!Advance(packedEnd, nullptr)) return false;
  }
  if (!m_flushed) {
    if (m_position < m_heldEnd) m_missing.push_back({m_position, m_heldEnd});
    if (!Advance(m_heldEnd, nullptr) || !Flush()) return false;
  }
  std::uint64_t size = m_written;
  if (const std::optional<std::uint64_t> bytes = MdbVolumeBytes(*m_mdb)) {
    m_mdbSizeUsed = true;
    size = std::max(size, *bytes);
  }
  // A Mac keeps the alternate block equal to the primary.
  if (size >= kMdbSectorEnd + kAlternateMdbFromEnd && size - kAlternateMdbFromEnd >= m_written) {
    if (!AppendZeros(size - kAlternateMdbFromEnd - m_written) ||
        !Append(HeldVolume().subspan(static_cast<std::size_t>(kMdbBegin), format::kUnitSize))) {
      return false;
    }
    m_alternateCopied = true;
  }
  if (!AppendZeros(size - m_written)) return false;
  m_position = m_written;
  return true;
}

std::uint64_t VolumeAssembler::BytesTakenFromArea() const {
  std::uint64_t bytes = 0;
  for (const ByteSpan& span : m_meeting.taken) bytes += span.end - span.begin;
  return bytes;
}

std::vector<ByteSpan> VolumeAssembler::MetadataImageLost() const {
  std::vector<ByteSpan> lost;
  for (const ByteSpan& span : IntersectSpans(Lost(), {{0, m_heldEnd}})) {
    lost.push_back({span.begin + kVolumeOffset, span.end + kVolumeOffset});
  }
  return lost;
}

}  // namespace kestrow
