// The GNU ddrescue mapfile kept beside a rescued image: "rescued.bin" is read
// through "rescued.map" (the image's extension replaced) or, when that is
// missing, "rescued.bin.map" (appended), as GNU ddrescue users name them.
#pragma once

#include <string>

namespace kestrow {

// The two names a map beside `imagePath` may have, in the order they are
// tried: the extension replaced by ".map", then ".map" appended. An image
// without an extension has one name for both (its name plus ".map").
std::string MapNameReplacingExtension(const std::string& imagePath);
std::string MapNameAppended(const std::string& imagePath);

// The map to read the image `imagePath` through: the first of the two names
// under which something exists (followed or not: a dangling link or a
// directory is taken too, so that opening it fails with a clear error rather
// than the image's holes being read as data) and which is not the image
// itself. Empty when `imagePath` is not an existing regular file (a drive, a
// missing file) or when neither name exists. The paths keep the spelling of
// `imagePath` (a relative image gives a relative map).
std::string FindMapBesideImage(const std::string& imagePath);

}  // namespace kestrow
