// The one road to a drive: "run this SCSI command".
//
// A real drive (Linux SG_IO, Windows SPTD), a disc image that answers like a
// drive, and the tests' fault-injecting wrapper all implement this interface.
// READ CAPACITY and READ CD are built above it, once, in ScsiCommands.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrow {

// SCSI sense data kept for diagnosis only; nothing branches on it.
struct SenseData {
  std::uint8_t key = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
};

struct CommandResult {
  bool ok = false;                 // the command was carried out
  std::uint32_t transferred = 0;   // bytes that came back, never more than the buffer
  SenseData sense;
  // For counting and diagnosis:
  bool recovered = false;          // ok, with a RECOVERED ERROR: the drive corrected the data itself
  std::uint8_t scsiStatus = 0;     // the drive's status byte (0x02: CHECK CONDITION)
  int systemError = 0;             // errno (GetLastError on Windows) when the request failed on the way
  bool timedOut = false;           // the drive did not answer within the time-out
};

class Transport {
 public:
  virtual ~Transport() = default;

  // Opens the device or image. Opening an open transport first closes it.
  virtual bool Open() = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  // Runs one command that reads data into `dataIn`. `timeoutSeconds` bounds
  // how long a real drive may take. A failed command has ok == false.
  virtual CommandResult Execute(std::span<const std::uint8_t> cdb,
                                std::span<std::uint8_t> dataIn,
                                unsigned timeoutSeconds) = 0;

  // The device path or image path this transport is bound to.
  virtual std::string Path() const = 0;

  // The files this transport reads (an image, its cue sheet, its mapfile),
  // which a recovery must never write over; none for a drive.
  virtual std::vector<std::string> SourceFiles() const { return {}; }

  // Why the last Open failed, in words for a person diagnosing a disc
  // ("No such file or directory", "cue sheet names no data file").
  virtual std::string OpenFailureDetail() const { return {}; }

  // Whether the source's data sectors carry their EDC. A drive reads the EDC
  // the writer recorded with every data sector, so a sector without one
  // (EDC and parity all zero) is not what the disc holds; only an image
  // written without EDC at all carries none. Valid while open.
  virtual bool SectorsCarryEdc() const { return true; }

  // What the source itself adds to the cause of a failed command, for a
  // person diagnosing it (an image: "the image holds no whole sector").
  virtual std::string FailureNote() const { return {}; }

  // Whether sector `lba` is known to be unreadable without reading it: a
  // source that keeps a record of what could not be read (an image read
  // through a ddrescue mapfile) answers for every sector; one that keeps none
  // answers nothing, and its sectors must be read to know. Valid while open.
  virtual std::optional<bool> KnownUnreadable(std::uint32_t lba) const {
    static_cast<void>(lba);
    return std::nullopt;
  }
};

}  // namespace kestrow
