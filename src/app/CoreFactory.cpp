#include "CoreFactory.h"

#include "drive/MapBeside.h"
#include "drive/SourceFactory.h"

namespace kestrow::app {

CoreFactory DefaultCoreFactory() {
  return [](const std::string& source) {
    return std::make_unique<CKestrowCore>(source, FindMapBesideImage(source));
  };
}

DriveLister DefaultDriveLister() { return [] { return ListOpticalDrives(); }; }

}  // namespace kestrow::app
