// How the commands get a CKestrowCore for a source (a device path or a disc
// image), and where the list of optical drives comes from. The program uses
// the real ones; tests hand in discs held in memory.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "KestrowCore.h"

namespace kestrow::app {

using CoreFactory = std::function<std::unique_ptr<CKestrowCore>(const std::string& source)>;
using DriveLister = std::function<std::vector<std::string>()>;

// A core bound to the source itself; an image is read through the GNU
// ddrescue map beside it, when there is one (FindMapBesideImage).
CoreFactory DefaultCoreFactory();
// The machine's optical drives, sorted (Linux /dev/sr*; Windows the letters
// D: to Y: that are CD-ROM drives).
DriveLister DefaultDriveLister();

}  // namespace kestrow::app
