#include "app/CoreFactory.h"

#include "drive/SourceFactory.h"

namespace kestrow::gui {

CoreFactory DefaultCoreFactory() {
  return [](const std::string& source) { return std::make_unique<CKestrowCore>(source); };
}

DriveLister DefaultDriveLister() { return [] { return ListOpticalDrives(); }; }

}  // namespace kestrow::gui
