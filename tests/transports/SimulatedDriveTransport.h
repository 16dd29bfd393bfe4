// A transport that stands for a real optical drive in timing studies: it
// passes every command on to another transport and charges each one the time
// a drive would take, without sleeping. It also counts what was asked of it
// and which sectors came back, so that a whole recovery or dump can be
// compared with reading just the sectors it needed, once.
//
//   auto drive = std::make_unique<SimulatedDriveTransport>(std::move(disc));
//   SimulatedDriveTransport* counter = drive.get();
//   CKestrowCore core(std::move(drive));
//   ... recover ...
//   counter->counters().readCdCommands, counter->VirtualSeconds()
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "drive/Transport.h"

namespace kestrow {

// What a drive costs: a fixed time per command and a transfer rate.
struct DriveCosts {
  double secondsPerCommand = 0.0005;  // 0.5 ms
  double bytesPerSecond = 7.0e6;      // 7 MB/s

  // The time of `commands` commands that move `bytes` bytes in all.
  double Seconds(std::uint64_t commands, std::uint64_t bytes) const {
    return static_cast<double>(commands) * secondsPerCommand + static_cast<double>(bytes) / bytesPerSecond;
  }
  // The time of streaming `sectors` raw sectors once, `sectorsPerCommand`
  // (at least 1) to a command.
  double StreamingSeconds(std::uint64_t sectors, std::uint64_t sectorsPerCommand) const;
};

class SimulatedDriveTransport : public Transport {
 public:
  struct Counters {
    std::uint64_t commands = 0;           // Execute() calls, of any command
    std::uint64_t readCdCommands = 0;     // READ CD commands, failed ones included
    std::uint64_t failedCommands = 0;     // commands the inner transport refused
    std::uint64_t sectorsRequested = 0;   // sum of the READ CD transfer lengths
    std::uint64_t sectorsRead = 0;        // whole raw sectors that came back
    std::uint64_t bytesTransferred = 0;   // bytes that came back, of any command
  };

  explicit SimulatedDriveTransport(std::unique_ptr<Transport> inner, DriveCosts costs = {});

  const Counters& counters() const { return m_counters; }
  // Sectors that came back whole at least once since the last reset.
  std::uint64_t DistinctSectorsRead() const { return m_distinct; }
  // True when sector `lba` came back whole at least once.
  bool WasRead(std::uint32_t lba) const;
  // Virtual time of everything since the last reset.
  double VirtualSeconds() const { return m_costs.Seconds(m_counters.commands, m_counters.bytesTransferred); }
  const DriveCosts& costs() const { return m_costs; }
  // Clears the counters, the record of sectors read and the virtual time.
  void ResetCounters();

  bool Open() override { return m_inner->Open(); }
  void Close() override { m_inner->Close(); }
  bool IsOpen() const override { return m_inner->IsOpen(); }
  CommandResult Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                        unsigned timeoutSeconds) override;
  std::string Path() const override { return m_inner->Path(); }
  std::string FailureNote() const override { return m_inner->FailureNote(); }
  bool SectorsCarryEdc() const override { return m_inner->SectorsCarryEdc(); }
  std::string OpenFailureDetail() const override { return m_inner->OpenFailureDetail(); }

 private:
  void MarkRead(std::uint64_t first, std::uint64_t count);

  std::unique_ptr<Transport> m_inner;
  DriveCosts m_costs;
  Counters m_counters;
  std::vector<std::uint64_t> m_readBits;  // one bit per LBA
  std::uint64_t m_distinct = 0;
};

}  // namespace kestrow
