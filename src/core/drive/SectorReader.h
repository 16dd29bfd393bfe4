// The one reader of a disc's sectors: every READ CAPACITY and READ CD a job
// sends goes through it.
//
// It reads runs of sectors with as few commands as it can, falls back to one
// sector per command around a sector that fails, reads a failed sector again
// as a ReadPolicy says, and checks every raw sector that comes back (sync,
// address, mode, EDC), mending it from its own parity where it can, before
// anyone sees it. Read for its user data (the default), a sector is used
// only when it is the Mode 1 or Mode 2 Form 1 sector asked for (UserDataOf
// finds its data); all zeros, audio, Form 2, another sector, and a sector
// without EDC on a source whose sectors have one are failed reads, and so is
// a sector not delivered whole (a short transfer).
//
// A UNIT ATTENTION that says the disc may have changed under the job ends
// it: from then on every command fails without reaching the drive until the
// source is opened again, and DiscChanged() says so.
//
// It keeps what a person diagnosing a disc needs: the read statistics (safe
// to read from another thread while a job runs), the sectors that came back
// all zeros, and the last failure in words.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>

#include "drive/ReadPolicy.h"
#include "drive/SectorCheck.h"
#include "drive/Transport.h"

namespace kestrow {

// What a reader has asked of its drive since it was built or last reset.
struct ReadStatistics {
  std::uint64_t readCdCommands = 0;  // READ CD commands sent, failed ones included
  std::uint64_t sectorsRead = 0;     // whole 2352-byte sectors that came back
  std::uint64_t failedCommands = 0;  // READ CD commands that failed or moved nothing
  std::uint64_t sectorsGivenUp = 0;  // sectors that stayed unreadable after every attempt
  // What the check of every sector that came back found (each delivery counted):
  std::uint64_t repairedSectors = 0;      // failed, and mended from the sector's own parity
  std::uint64_t unrepairableSectors = 0;  // failed, could not be mended: a failed read
  std::uint64_t zeroEdcSectors = 0;       // no EDC to check by (EDC and parity all zero), taken as they are
  std::uint64_t recoveredErrors = 0;      // READ CDs the drive answered with RECOVERED ERROR and all the data
  std::uint64_t failedSingleReads = 0;    // one-sector reads that failed (the command or the check)
  // Sectors that came back but are not the data asked for (short, all zeros,
  // audio, Mode 2 Form 2, another sector, no EDC on a source that has it): failed reads.
  std::uint64_t refusedSectors = 0;
  std::uint64_t zeroSectors = 0;  // distinct sectors that came back all zeros (a rescue image's holes)
};

// What the sectors a reader reads are for.
enum class SectorUse {
  kUserData,      // their user data: only the sector asked for, Mode 1 or Mode 2 Form 1, is data
  kWholeSectors,  // dumps: every whole sector as the drive gave it, its parity rewritten where it checks
};

// Most sectors one READ CD asks for: 27 x 2352 = 63,504 bytes, so that one
// transfer stays under the 64 KiB that every Linux and Windows drive path
// accepts.
inline constexpr std::int32_t kSectorsPerReadCd = 27;

// Receives the sectors of a run one by one, in ascending LBA order: each a
// whole 2352-byte sector that passed the check (a sector not delivered whole
// is a failed read). Returning false ends the run.
using SectorConsumer = std::function<bool(std::int32_t lba, std::span<const std::uint8_t> raw)>;

// Told, in LBA order among the sectors handed to the consumer, of each
// sector that stayed unreadable.
using UnreadableSink = std::function<void(std::int32_t lba)>;

// `address` rounded up to the next multiple of 16 (unchanged when it is
// one): the start of a sector buffer of 2352 + 16 bytes.
std::uint8_t* AlignSectorBuffer(std::uint8_t* address);

class SectorReader {
 public:
  // Reads through `transport`, which must outlive the reader.
  explicit SectorReader(Transport& transport);
  SectorReader(const SectorReader&) = delete;
  SectorReader& operator=(const SectorReader&) = delete;

  // Opens the source, closing it first when it is open, and forgets a disc
  // change seen before.
  bool Open();
  // Harmless when closed.
  void Close();
  bool IsOpen() const;
  Transport& GetTransport() const { return m_transport; }

  // The rest need an open source.
  // READ CAPACITY: the sector count (last LBA + 1), or -1.
  std::int32_t ReadCapacity();
  // One READ CD of one sector into `buffer` (2352 bytes, see
  // AlignSectorBuffer), checked: 2352, or -1 when the command failed or
  // the sector is not to be used.
  std::int32_t ReadRawSector(std::int32_t lba, std::uint8_t* buffer);
  // One READ CD of `count` sectors into `buffer` (count x 2352 bytes): the
  // number of leading sectors delivered whole that passed the check (0 when
  // the command failed). The caller reads the sector after them again on
  // its own.
  std::int32_t ReadRawSectors(std::int32_t lba, std::int32_t count, std::uint8_t* buffer);

  // Reads the `count` consecutive sectors from `lba` with as few READ CD
  // commands as it can (kSectorsPerReadCd at most each) and hands each to
  // `consume`. Where a command fails or comes back short, the sectors it did
  // not deliver in full are read again one per command, so a consumer sees
  // exactly what one ReadRawSector per sector would have given it, and the
  // run ends at the same sector. True when every sector was read and
  // consumed; false at the first sector whose read failed (nothing is handed
  // over for it) or that the consumer refused.
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

  // What the sectors are read for (user data by default); returns the use
  // before. Dumps keep whole sectors, so they also have the parity of a
  // sector that checks rewritten from its data.
  SectorUse SetSectorUse(SectorUse use);

  // Whether sector `lba` is known to be unreadable without reading it (an
  // image read through a mapfile: the sectors the map does not mark
  // finished); nothing when the source keeps no such record.
  std::optional<bool> KnownUnreadable(std::int32_t lba) const;

  // True when the disc may have been changed since the source was opened:
  // nothing more was read, and what the job holds may be of two discs.
  bool DiscChanged() const { return m_bDiscChanged.load(); }

  // The job's memory of sectors that stayed unreadable after their retries
  // in a run under a policy: later runs never send a READ CD covering them
  // again (they are told to the sink as unreadable at once), so each is
  // read at most 1 + retries times while this reader lives. Forgotten when
  // the disc changes, or on request. Single-sector and raw reads
  // (ReadRawSector, ReadRawSectors: the rescue dump's passes) do not use it.
  std::set<std::int32_t> GivenUpSectors() const;

  // Flags that stop every run under way before its next READ CD (the
  // recovery job's stop request, a face's Ctrl-C): the run returns false at
  // once, and the sectors it did not read are neither handed over nor
  // called unreadable. Either may be null; they must outlive the reader.
  void SetStopFlags(const std::atomic<bool>* job, const std::atomic<bool>* face);
  bool Stopped() const;
  void ForgetUnreadable();

  // Counted where the commands are issued; safe to read while a job runs.
  ReadStatistics GetStatistics() const;
  // The sectors that came back all zeros since the statistics were reset.
  std::set<std::int32_t> GetZeroSectors() const;
  void ResetStatistics();

  // Why the last READ CAPACITY or READ CD failed, in words ("not ready:
  // medium not present (sense key 2, ASC/ASCQ 3A/00)", a system error, a
  // sector that failed its check), with what the source adds (an image
  // taken for something else); empty when nothing failed.
  std::string DescribeLastFailure() const;

 private:
  // The first remembered unreadable sector in [lba, lba + count), or -1.
  std::int32_t FirstGivenUp(std::int32_t lba, std::int32_t count) const;
  void RememberGivenUp(std::int32_t lba);
  // Sends one command, answering a UNIT ATTENTION as JudgeUnitAttention
  // says; after a disc change it sends nothing and fails.
  CommandResult RunCommand(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> data);
  void CountReadCd(const CommandResult& result, std::int32_t transferred);
  // Checks a sector that came back and counts the verdict; false when it is
  // not to be used.
  bool AcceptSector(std::int32_t lba, std::span<std::uint8_t> raw);
  void RecordFailure(const CommandResult& result, std::int32_t badSector,
                     DataSectorVerdict why = DataSectorVerdict::kBad);

  Transport& m_transport;
  SectorUse m_sectorUse = SectorUse::kUserData;
  bool m_bSourceCarriesEdc = true;  // the transport's word, taken when the source opens
  bool m_bAnswered = false;         // the source has answered a command of this reader
  std::atomic<bool> m_bDiscChanged{false};

  // The last failure of a command or a sector check, and the all-zero sectors.
  mutable std::mutex m_failureLock;
  CommandResult m_lastFailure;
  std::int32_t m_lastBadSector = -1;  // a sector that failed its check, or -1
  DataSectorVerdict m_lastBadVerdict = DataSectorVerdict::kBad;
  std::set<std::int32_t> m_zeroSectors;
  std::set<std::int32_t> m_givenUp;  // the job's memory of unreadable sectors
  std::array<const std::atomic<bool>*, 2> m_stopFlags{};

  std::atomic<std::uint64_t> m_readCdCommands{0};
  std::atomic<std::uint64_t> m_sectorsRead{0};
  std::atomic<std::uint64_t> m_failedReadCds{0};
  std::atomic<std::uint64_t> m_sectorsGivenUp{0};
  std::atomic<std::uint64_t> m_repairedSectors{0};
  std::atomic<std::uint64_t> m_unrepairableSectors{0};
  std::atomic<std::uint64_t> m_zeroEdcSectors{0};
  std::atomic<std::uint64_t> m_recoveredErrors{0};
  std::atomic<std::uint64_t> m_failedSingleReads{0};
  std::atomic<std::uint64_t> m_refusedSectors{0};
};

}  // namespace kestrow
