// The output paths a recovery job has written so far.
//
// Different catalogue names can give the same output name once their
// reserved characters are replaced ("a/b" and "a:b" both become "a-b"), and
// a file named "._Foo" on the disc has the name of Foo's companion. A file
// claims its name and its companion's name together; the first file of a
// job keeps its name, a later one whose name or companion name is taken gets
// " (2)", " (3)", ... before its extension, so no file of the job replaces
// another. A file left
// in the folder by an earlier job is still replaced, as a second recovery
// into the same folder should. Where the file system ignores case
// (Windows), "README" after "Readme" is such a collision too.
#pragma once

#include <string>
#include <cstdint>
#include <unordered_map>

namespace kestrow {

class OutputNames {
 public:
  // The file name to use for `name` (already sanitized) in `folder` (its path,
  // ending with a separator, or empty); that name and "._" before it are claimed
  // for this job by `owner`, the catalogue file it belongs to. The same file
  // claiming its names again (selected twice) gets the same name.
  std::string Claim(const std::string& folder, const std::string& name, std::uint64_t owner);

 private:
  std::unordered_map<std::string, std::uint64_t> m_claimed;  // full path -> owner
};

// "name (n).ext", or "name (n)" when the name has no extension. A dot
// that begins or ends the name does not start an extension.
std::string NumberedName(const std::string& name, unsigned n);

}  // namespace kestrow
