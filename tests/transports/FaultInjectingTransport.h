// A transport for tests that wraps another one and makes chosen things go
// wrong: the open, READ CAPACITY, or READ CD at chosen sectors. It also counts
// what was asked of it.
//
//   auto faults = std::make_unique<FaultInjectingTransport>(std::move(disc));
//   faults->FailReadAt(17);              // READ CD touching LBA 17 fails
//   faults->ShortTransferAt(18, 100);    // READ CD of LBA 18 moves 100 bytes
//   faults->RecoveredErrorAt(19, true);  // READ CD touching LBA 19: RECOVERED ERROR, all data
//   faults->UnitAttentionAt(20, 0x29);   // READ CD touching LBA 20: UNIT ATTENTION, a reset, once
//   faults->SwapDiscAfter(40, std::move(other));  // from command 41 on, another disc
//   faults->OnReadCd([&](auto lba, auto n, bool failed) { ... });  // after every READ CD
//   CKestrowCore core(std::move(faults));
//
// Faults stay until ClearFaults(); counters until ResetCounters().
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "drive/Transport.h"

namespace kestrow {

class FaultInjectingTransport : public Transport {
 public:
  struct Counters {
    unsigned opens = 0;              // Open() calls, failed ones included
    unsigned closes = 0;             // Close() calls
    unsigned commands = 0;           // Execute() calls, of any command
    unsigned readCdCommands = 0;     // READ CD commands
    std::uint64_t sectorsRequested = 0;  // sum of the READ CD transfer lengths
  };

  // Byte written over what a short transfer leaves undelivered, so that a
  // reader that ignores the transfer count sees it.
  static constexpr std::uint8_t kUndeliveredByte = 0xEE;

  explicit FaultInjectingTransport(std::unique_ptr<Transport> inner);

  // Open() closes the inner transport and fails, with this detail.
  void FailOpen(bool fail = true) { m_failOpen = fail; }
  // READ CAPACITY fails (ok == false).
  void FailReadCapacity(bool fail = true) { m_failCapacity = fail; }
  // READ CAPACITY ends in CHECK CONDITION with this sense data.
  void FailReadCapacityWith(SenseData sense) { m_capacitySense = sense; }
  // READ CAPACITY fails on the way to the drive with this system error (errno).
  void FailReadCapacityWithSystemError(int error) { m_capacityError = error; }
  // READ CAPACITY succeeds but transfers 0 bytes.
  void ReadCapacityTransfersNothing(bool on = true) { m_capacityEmpty = on; }
  // READ CAPACITY reports `lastLba` (the sector count is lastLba + 1).
  void OverrideLastLba(std::uint32_t lastLba) { m_lastLba = lastLba; }
  // A READ CD whose range includes `lba` fails as a whole (medium error).
  void FailReadAt(std::uint32_t lba) { m_failingLbas.insert(lba); }
  // A READ CD whose range includes `lba` succeeds but transfers only the
  // sectors before it plus `bytes` of it (0 to 2352); the rest of the buffer
  // holds kUndeliveredByte.
  void ShortTransferAt(std::uint32_t lba, std::uint32_t bytes) { m_shortLbas[lba] = bytes; }
  // A flaky sector: a READ CD of several sectors that includes `lba` fails,
  // and one of `lba` alone fails `failures` times before it reads.
  void FlakyAt(std::uint32_t lba, unsigned failures) { m_flakyLbas[lba] = failures; }
  // A READ CD whose range includes `lba` ends in CHECK CONDITION with a
  // RECOVERED ERROR: with every byte delivered when `fullTransfer`,
  // otherwise with only the sectors before it and 1000 bytes of it (the
  // rest of the buffer holds kUndeliveredByte). Judged as a drive's answer is (JudgeCommand).
  void RecoveredErrorAt(std::uint32_t lba, bool fullTransfer) { m_recoveredLbas[lba] = fullTransfer; }
  // A READ CD whose range includes `lba` ends in CHECK CONDITION with UNIT
  // ATTENTION and this ASC (28h: the medium may have changed; 29h: a reset),
  // the next `times` times it is sent; then it reads.
  void UnitAttentionAt(std::uint32_t lba, std::uint8_t asc, unsigned times = 1) { m_attentionLbas[lba] = {asc, times}; }
  // The disc is swapped for `other` after `commands` commands: the next
  // command is answered with UNIT ATTENTION 28h, as a drive answers the first
  // command after a disc change, and every later one reads `other`.
  void SwapDiscAfter(unsigned commands, std::unique_ptr<Transport> other);
  void ClearFaults();
  // Called as each READ CD ends, with its first sector, its length and
  // whether it failed: a test logs the reads there, moves its own clock (a
  // bad read takes time on a real drive) or blocks, as a hanging read does.
  using ReadCdHook = std::function<void(std::uint32_t lba, std::uint32_t count, bool failed)>;
  void OnReadCd(ReadCdHook hook) { m_readCdHook = std::move(hook); }

  const Counters& counters() const { return m_counters; }
  void ResetCounters() { m_counters = {}; }
  Transport& inner() { return *m_inner; }

  bool Open() override;
  void Close() override;
  bool IsOpen() const override { return m_inner->IsOpen(); }
  CommandResult Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                        unsigned timeoutSeconds) override;
  std::string Path() const override { return m_inner->Path(); }
  std::vector<std::string> SourceFiles() const override { return m_inner->SourceFiles(); }
  std::string FailureNote() const override { return m_inner->FailureNote(); }
  bool SectorsCarryEdc() const override { return m_inner->SectorsCarryEdc(); }
  std::string OpenFailureDetail() const override;

 private:
  CommandResult ReadCapacity(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                             unsigned timeoutSeconds);
  CommandResult ReadCd(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                       unsigned timeoutSeconds);

  std::unique_ptr<Transport> m_inner;
  ReadCdHook m_readCdHook;
  Counters m_counters;
  bool m_failOpen = false;
  bool m_openInjectedFailure = false;
  bool m_failCapacity = false;
  bool m_capacityEmpty = false;
  std::optional<std::uint32_t> m_lastLba;
  std::set<std::uint32_t> m_failingLbas;
  std::map<std::uint32_t, std::uint32_t> m_shortLbas;
  std::map<std::uint32_t, unsigned> m_flakyLbas;  // single reads still to fail
  std::map<std::uint32_t, bool> m_recoveredLbas;
  struct Attention {
    std::uint8_t asc = 0;
    unsigned times = 0;
  };
  std::map<std::uint32_t, Attention> m_attentionLbas;
  std::unique_ptr<Transport> m_nextDisc;  // swapped in after m_swapAfter commands
  unsigned m_swapAfter = 0;
  std::optional<SenseData> m_capacitySense;
  int m_capacityError = 0;
};

}  // namespace kestrow
