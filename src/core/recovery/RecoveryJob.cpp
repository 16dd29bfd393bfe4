// The recovery job: StartRecovery, the worker, and the stop request.
#include "recovery/RecoveryJob.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "drive/KestrowCore.h"
#include "recovery/DataLocation.h"
#include "recovery/OutputFiles.h"
#include "text/Messages.h"
#include "volume/PackedFormat.h"

namespace kestrow {

std::vector<FileEntry> g_vecRecoverFiles;
std::string g_strDestFolder;

namespace {
constexpr std::uint32_t kJobCouldNotBegin = std::numeric_limits<std::uint32_t>::max();
}  // namespace

std::uint32_t RecoveryThreadProc(CKestrowCore* core) {
  const std::uint32_t result = core->RunRecovery();
  core->m_bWorkerRunning = false;
  return result;
}

bool CKestrowCore::StartRecovery(const std::vector<FileEntry>& selected, const std::string& destFolder) {
  SetStatus(msg::kReading);
  g_vecRecoverFiles = selected;
  g_strDestFolder = destFolder;
  if (m_hThread.joinable()) m_hThread.join();  // the previous worker has ended or is about to
  m_bStopRequest = false;
  UpdateOutcome([&](RecoveryOutcome& o) {
    o = RecoveryOutcome{};
    o.state = RecoveryState::kRunning;
    o.fileCount = selected.size();
  });
  m_bWorkerRunning = true;
  m_hThread = std::thread(RecoveryThreadProc, this);
  return true;
}

void CKestrowCore::RequestStop() {
  if (!m_hThread.joinable()) return;
  m_bStopRequest = true;
  // The worker clears the flag when it obeys between two files; a worker that
  // has already ended (after a failure or its last file) never will.
  while (m_bStopRequest && m_bWorkerRunning) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  m_hThread.join();
  m_bStopRequest = false;
}

void CKestrowCore::WaitForRecovery() {
  if (m_hThread.joinable()) m_hThread.join();
}

RecoveryOutcome CKestrowCore::GetRecoveryOutcome() const {
  std::lock_guard<std::mutex> lock(m_statusLock);
  return m_outcome;
}

void CKestrowCore::UpdateOutcome(const std::function<void(RecoveryOutcome&)>& change) {
  std::lock_guard<std::mutex> lock(m_statusLock);
  change(m_outcome);
}

std::uint32_t CKestrowCore::RunRecovery() {
  const auto failEarly = [this] {
    UpdateOutcome([](RecoveryOutcome& o) { o.state = RecoveryState::kFailedEarly; });
    return kJobCouldNotBegin;
  };
  if (!OpenDevice()) {
    m_nErrorState = kErrorCannotOpen;
    return failEarly();
  }
  VolumeImage image;
  MasterDirectoryBlock mdb;
  std::vector<std::int32_t> boundaries;
  if (!ReadVolumeImage(image) || !ReadMasterDirectoryBlock(image, mdb) ||
      !ReadPackTable(image, boundaries)) {
    CloseDevice();
    return failEarly();
  }
  const std::int32_t sectorCount = ReadCapacity();
  JobLayout layout;
  layout.boundaries = std::move(boundaries);
  layout.allocBlockSize = static_cast<std::int32_t>(mdb.drAlBlkSiz());
  layout.base = GroupBaseSector(sectorCount, static_cast<int>(std::min<std::size_t>(image.size(), INT32_MAX)),
                                static_cast<int>(std::min<std::size_t>(layout.boundaries.size(), INT32_MAX)));
  // No file can need more groups than the disc has room for.
  layout.maxGroups = std::max(sectorCount, 0) / static_cast<int>(format::kGroupSectors) + 1;
  image.clear();
  image.shrink_to_fit();

  for (std::size_t i = 0;; ++i) {
    if (i >= g_vecRecoverFiles.size()) {
      CloseDevice();
      std::lock_guard<std::mutex> lock(m_statusLock);
      m_outcome.state = RecoveryState::kFinished;
      m_strStatus.clear();
      return m_outcome.written;
    }
    if (m_bStopRequest) {
      CloseDevice();
      UpdateOutcome([](RecoveryOutcome& o) { o.state = RecoveryState::kStopped; });
      m_bStopRequest = false;  // the acknowledgement, once nothing else is left to do
      return GetRecoveryOutcome().written;
    }
    {
      std::lock_guard<std::mutex> lock(m_statusLock);
      m_strStatus = g_vecRecoverFiles[i].name;
      m_outcome.currentFile = i;
    }
    if (!RecoverFile(i, layout)) {
      CloseDevice();
      UpdateOutcome([i](RecoveryOutcome& o) {
        o.state = RecoveryState::kFailedAtFile;
        o.failedFile = i;
      });
      return GetRecoveryOutcome().written;
    }
  }
}

bool CKestrowCore::RecoverFile(std::size_t index, const JobLayout& layout) {
  const FileEntry entry = g_vecRecoverFiles[index];
  const std::vector<std::int32_t>& boundaries = layout.boundaries;
  const ByteRange range = ForkByteRange(entry, layout.allocBlockSize);
  std::vector<GroupBuffer> groups;
  if (entry.dataLogicalLength > 0) {
    const int first = FindGroupIndex(boundaries, range.start);
    const int last = FindGroupIndex(boundaries, range.end);
    // A table of fewer than two entries describes no group, and a range that
    // starts outside the table cannot be placed: nothing can be read for it.
    if (boundaries.size() < 2 || first < 0 || first > last || last - first >= layout.maxGroups) {
      UpdateOutcome([index](RecoveryOutcome& o) { o.unwritten.push_back(index); });
      return true;
    }
    groups.resize(static_cast<std::size_t>(last - first) + 1);
    for (int g = first; g <= last; ++g) {
      if (!ReadSectorGroup(g, groups[static_cast<std::size_t>(g - first)], layout.base)) return false;
    }
  }
  std::vector<std::uint8_t> data(entry.dataLogicalLength, 0);
  const bool complete = kestrow::ExtractRange(groups, static_cast<std::uint32_t>(range.start),
                                              static_cast<std::uint32_t>(range.end), data);
  const OutputResult result = WriteOutputFiles(entry, data, g_strDestFolder);
  UpdateOutcome([&](RecoveryOutcome& o) {
    if (result.dataWritten) {
      ++o.written;
      o.bytesWritten += data.size();
      if (!complete) o.incomplete.push_back(index);
    } else {
      o.unwritten.push_back(index);
    }
  });
  return true;
}

}  // namespace kestrow
