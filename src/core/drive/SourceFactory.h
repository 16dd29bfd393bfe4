// Chooses the transport for a source: a disc image for a regular file, the
// platform's pass-through transport for a device.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "drive/Transport.h"

namespace kestrow {

// Never fails: a source that cannot be used fails later, in Open().
std::unique_ptr<Transport> MakeSourceTransport(std::string sourcePath, std::string mapfilePath);

// True when `path` names something that should be read as a disc image
// rather than as a device (a regular file, or a path that does not exist
// outside the device folder).
bool IsImageSource(const std::string& path);

// The optical drives of this machine, sorted (Linux: /dev/sr*; Windows:
// the CD-ROM drive letters, "E:").
std::vector<std::string> ListOpticalDrives();

}  // namespace kestrow
