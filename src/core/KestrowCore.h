// CKestrowCore: one object through which a command reaches one disc source
// (an optical drive or a disc image), bound to it for life.
//
// It owns the source's transport (which holds the open device handle), the
// error state of the last failure, and the recovery job's stop flag, worker
// thread and status text. Loaded data (volume image, file table) belongs to
// the caller.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "Spans.h"
#include "drive/ReadPolicy.h"
#include "drive/SectorCheck.h"
#include "drive/SectorReader.h"
#include "drive/Transport.h"
#include "recovery/DamageScan.h"
#include "recovery/ExtractRange.h"
#include "recovery/JobStatus.h"
#include "recovery/RecoveryJob.h"
#include "recovery/VolumeUnpack.h"
#include "rawtools/PhysicalDump.h"
#include "rawtools/RescueDump.h"
#include "volume/FileEntry.h"
#include "volume/MasterDirectoryBlock.h"
#include "volume/VolumeImage.h"

namespace kestrow {

// Values of the error state: the cause of the last failure, for diagnosis.
enum ErrorState : std::int32_t {
  kErrorNone = 0,          // nothing has failed (only the constructor sets it)
  kErrorCannotOpen = 1,    // the drive or image could not be opened
  kErrorReadOrFormat = 2,  // the capacity or a sector could not be read, or the format is not ours
};


struct GroupSearch;
struct SalvagedVolume;

class RescueMap;

class CKestrowCore {
 public:
  // Binds the core to a source: a device path ("/dev/sr0", "\\.\E:") or a
  // disc image file (raw, 2048-byte or .cue), with an optional ddrescue
  // mapfile for images. Touches no device.
  explicit CKestrowCore(std::string sourcePath, std::string mapfilePath = {});
  // Binds the core to a ready-made transport (tests, fuzzing, in-memory discs).
  explicit CKestrowCore(std::unique_ptr<Transport> transport);
  virtual ~CKestrowCore();

  CKestrowCore(const CKestrowCore&) = delete;
  CKestrowCore& operator=(const CKestrowCore&) = delete;

  // Device layer. Every raw sector a READ CD returns is checked (sync,
  // address, mode, EDC) and mended from its parity where it can be before
  // any caller sees it; a sector that stays wrong is a failed read, and so
  // is one not delivered whole. Read for its user data (the default), a
  // sector is used only when it is the Mode 1 or Mode 2 Form 1 sector asked
  // for (UserDataOf finds its data); all zeros, audio, Form 2 and a sector
  // without EDC on a source whose sectors have one are failed reads.
  //
  // A UNIT ATTENTION that says the disc may have changed under the job ends
  // it: from then on every command fails without reaching the drive until
  // the device is opened again, and DiscChanged() says so.
  bool OpenDevice();
  void CloseDevice();
  bool IsDeviceOpen() const;
  std::int32_t ReadCapacity();
  std::int32_t ReadRawSector(std::int32_t lba, std::uint8_t* buffer);
  std::int32_t GetSectorCount();
  static std::uint8_t* AlignSectorBuffer(std::uint8_t* address);

  // Reads the `count` consecutive sectors from `lba` with as few READ CD
  // commands as it can (kSectorsPerReadCd at most each) and hands each to
  // `consume`. Where a command fails or comes back short, the sectors it did
  // not deliver in full are read again one per command, so a consumer sees
  // exactly what one ReadRawSector per sector would have given it, and the
  // run ends at the same sector. True when every sector was read and
  // consumed; false at the first sector whose read failed (nothing is handed
  // over for it) or that the consumer refused. The device must be open.
  bool ReadSectorRun(std::int32_t lba, std::int32_t count, const SectorConsumer& consume);
  // The same under `policy`: a sector whose read fails is read again, one
  // per command, up to policy.retries more times; one that still fails is
  // told to `unreadable` (when given) and, with policy.keepGoing, the run goes
  // on with the next sector, else it ends there. With keepGoing a consumer
  // that refuses a sector makes it count as a failed read (a transfer too
  // short for what the consumer needs). True when every sector was read and
  // consumed.
  bool ReadSectorRun(std::int32_t lba, std::int32_t count, const SectorConsumer& consume, const ReadPolicy& policy,
                     const UnreadableSink& unreadable);

  // Counted where the commands are issued; safe to read while a job runs.
  ReadStatistics GetReadStatistics() const;
  // The sectors that came back all zeros since the statistics were reset.
  std::set<std::int32_t> GetZeroSectors() const;
  void ResetReadStatistics();
  // A job sends no READ CD over a sector that stayed unreadable after its
  // retries earlier in the same job (see SectorReader). A face whose core
  // outlives one job (the desktop's file list) begins each job with this.
  void ForgetUnreadableSectors();
  // A face's flag (Ctrl-C) that, once set, stops every read under way
  // before its next READ CD, as the recovery job's stop request does; it
  // must outlive the core. Null: none.
  void SetInterruptFlag(const std::atomic<bool>* flag);

  // Burn signature: does the last sector's user data begin with "Trkb"?
  // `search`, when given, says where it was looked for.
  bool CheckBurnSignature(TrailerSearch* search = nullptr);

  // Volume area and master directory block.
  // `trailerOut`, when given, receives the trailer that was read.
  bool LoadVolumeImage(VolumeImage& image, TrackTrailer* trailerOut = nullptr);
  bool ReadVolumeImage(VolumeImage& image, TrackTrailer* trailerOut = nullptr);
  // The same, saying in `read` where the trailer was found, which sector
  // failed the load, and (policy.keepGoing) which sectors of the area could
  // not be read and were taken as zeros.
  bool LoadVolumeImage(VolumeImage& image, VolumeAreaRead& read, const ReadPolicy& policy = {});
  bool ReadVolumeImage(VolumeImage& image, VolumeAreaRead& read, const ReadPolicy& policy = {});
  bool ReadMasterDirectoryBlock(const VolumeImage& image, MasterDirectoryBlock& mdb);
  bool ReadSectorGroup(int group, std::vector<std::uint8_t>& buffer, int baseSector);
  // The same under `policy`; with keepGoing the sectors that could not be
  // read are zeros in the buffer and set in `unreadable` (which is cleared
  // first), and the result says whether every sector was read.
  bool ReadSectorGroup(int group, std::vector<std::uint8_t>& buffer, int baseSector, const ReadPolicy& policy,
                       GroupSectorMask& unreadable, const UnreadableSink& sink = {});

  // Salvage of a disc whose end may be gone (the device must be open for
  // ReadSalvagedVolume): the volume area as far as it can be read, its lost
  // bytes (or all of it) from the packed copy of the volume's first blocks,
  // and the groups placed by the "Pack" table or, when that cannot be read,
  // by SearchGroups. False (with `volume.failure`) when no master directory
  // block could be read from either copy. Reads sectors one way only: past
  // every sector that cannot be read.
  bool LoadSalvagedVolume(SalvagedVolume& volume, const ReadPolicy& policy);
  bool ReadSalvagedVolume(SalvagedVolume& volume, const ReadPolicy& policy);
  // Searches LBAs 0 to sectorCount - 1 for the groups' block tables: the
  // first table followed by another 248 sectors on, then one sector every
  // 248 until a readable one holds no table that goes on from the last.
  // The device must be open.
  GroupSearch SearchGroups(std::int32_t sectorCount, const ReadPolicy& policy, const UnreadableSink& sink = {});

  // Packed-data table: the group boundaries, in volume bytes.
  bool ReadPackTable(const VolumeImage& image, std::vector<std::int32_t>& boundaries);

  // Copies [start, end) of the volume out of the groups' blocks into `out`;
  // true when every byte of `out` came from a block.
  bool ExtractRange(const std::vector<GroupBuffer>& groups, std::int32_t start, std::int32_t end,
                    std::vector<std::uint8_t>& out);

  // Catalogue: appends one row per file record, then fills every path.
  bool ScanCatalog(const VolumeImage& image, FileTable& files);
  // The same over an image whose `unreadable` bytes were read as zeros: the
  // nodes they touch are passed over and counted in `lostNodes`. With
  // `includeDeleted`, the files of catalogue nodes the node map marks free
  // follow the live ones, marked deleted. Every fork gets the extents the
  // extents overflow file holds for it.
  bool ScanCatalog(const VolumeImage& image, FileTable& files, const std::vector<ByteSpan>& unreadable,
                   std::size_t& lostNodes, bool includeDeleted = false);

  // Reads every sector of the volume area and of the groups the catalogue's
  // files use (for an image read through a ddrescue mapfile, the sectors the
  // map does not mark finished count as unreadable and only the groups' block
  // tables are read) and says which files the unreadable sectors hit and
  // which of their bytes are lost. False when the volume cannot be listed
  // (`scan.failure` says why) or the callback stopped it.
  bool ScanDamage(DamageScan& scan, const ReadPolicy& policy, const ScanProgressCallback& progress = {});

  // Recovery job. StartRecovery copies the selection and the destination
  // (ending with the path separator) into the job and starts the worker.
  // RequestStop asks a running worker to stop before its next READ CD (the
  // file in hand is not written) and waits until it has ended; it returns at once when no worker runs.
  bool StartRecovery(const std::vector<FileEntry>& selected, const std::string& destFolder,
                     const RecoveryOptions& options = {});
  void RequestStop();
  // Waits for the worker to end (it may still be running after the status
  // text was emptied).
  void WaitForRecovery();
  RecoveryOutcome GetRecoveryOutcome() const;
  // The few figures a progress display polls, without copying the outcome.
  RecoveryProgress GetRecoveryProgress() const;

  // The volume image: the volume area, then every group once, in disc
  // order, decoded into the volume's byte space and handed to `sink`, or
  // written to the file `path` (see recovery/VolumeUnpack.h). The outcome
  // says what was lost or why it failed.
  bool UnpackVolume(const UnpackSettings& settings, ImageSink& sink, UnpackOutcome& outcome,
                    const UnpackProgress& progress = {});
  bool WriteVolumeImage(const std::string& path, const UnpackSettings& settings, UnpackOutcome& outcome,
                        const UnpackProgress& progress = {});

  // Physical dump of a sector range into `path`, the range chosen and the
  // progress shown through `callbacks`. False on any failure, also when the
  // user cancels or a write to the file fails; the sectors written stay.
  bool DumpSectors(const std::string& path, DumpCallbacks& callbacks);
  const DumpStatistics& GetDumpStatistics() const { return m_dumpStatistics; }

  // Rescue dump of a sector range into a whole-disc raw image with a GNU
  // ddrescue mapfile: reads, in ddrescue's passes, the sectors of the range
  // that `map` does not mark finished, writes each at its place through
  // `target`, and keeps `map` (extended to the whole disc) up to date and
  // saved through `target`, also when it stops early. True only when every
  // sector of the range is finished. A map that marks sectors finished is
  // first checked against the disc (MatchesResumedImage): when that fails,
  // nothing is read or written, and the statistics say why.
  bool RescueSectors(RescueMap& map, RescueTarget& target, DumpCallbacks& callbacks,
                     const RescueSettings& settings);
  const RescueStatistics& GetRescueStatistics() const { return m_rescueStatistics; }

  // True when the disc may have been changed since the device was opened:
  // nothing more was read, and what the job holds may be of two discs.
  bool DiscChanged() const { return m_reader.DiscChanged(); }

  std::int32_t GetErrorState() const { return m_nErrorState; }
  const std::string& GetDevicePath() const { return m_strDevicePath; }
  // Why the last open failed, for a person diagnosing a disc; may be empty.
  std::string GetOpenFailureDetail() const;
  // Why the last READ CAPACITY or READ CD failed, in words ("not ready:
  // medium not present (sense key 2, ASC/ASCQ 3A/00)", a system error, a
  // sector that failed its check), with what the source adds (an image
  // taken for something else); empty when nothing failed.
  std::string DescribeLastFailure() const;
  Transport& GetTransport() { return *m_pTransport; }

  // The recovery job's status text; every access is under a lock.
  std::string GetStatus() const;
  void SetStatus(std::string status);

 protected:
  std::string m_strDevicePath;
  std::unique_ptr<Transport> m_pTransport;  // holds the open device handle
  std::int32_t m_nErrorState = kErrorNone;
  std::atomic<bool> m_bStopRequest{false};
  std::thread m_hThread;
  JobStatus m_strStatus;  // the status text and the job's outcome, behind one lock
  SectorReader m_reader;  // every command to the source goes through it

 private:
  // The error state's one rule: an operation that failed on an open device
  // sets it to kErrorReadOrFormat; `ok` is returned.
  bool Judge(bool ok);
  // Opens the device, runs `operation` on it and closes it again: a failed
  // open sets the error state to kErrorCannotOpen (and runs nothing), a
  // failed operation to kErrorReadOrFormat. The operation's result.
  bool WithDevice(const std::function<bool()>& operation);
  // The error state after a volume image: kErrorCannotOpen when the source
  // could not be opened, kErrorReadOrFormat when the disc failed it (not the
  // output, not a stop).
  void JudgeUnpack(const UnpackOutcome& outcome);
  // The same rule for an operation that opened the device itself.
  bool Judge(DumpResult result);

  friend std::uint32_t RecoveryThreadProc(CKestrowCore* core);
  DumpStatistics m_dumpStatistics;
  RescueStatistics m_rescueStatistics;
  std::atomic<bool> m_bWorkerRunning{false};
};

// The recovery job's worker thread: returns the number of data files
// written, or 0xFFFFFFFF when the job could not begin.
std::uint32_t RecoveryThreadProc(CKestrowCore* core);

}  // namespace kestrow
