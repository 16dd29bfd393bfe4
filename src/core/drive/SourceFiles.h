// The files a source is read from, and the test that keeps a command's
// output files from being one of them or one another: `kestrow dump self.bin
// -o self.bin` must not truncate the image it is about to read, nor a rescue
// map's temporary file be the image it goes with.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kestrow {

// The files that reading `source` with `mapfile` uses: the source itself
// (an image or a device), the data file its cue sheet names, and the
// mapfile. A cue sheet that cannot be read adds nothing.
std::vector<std::string> SourceFiles(const std::string& source, const std::string& mapfile);

// True when the two paths name the same existing file, however they reach
// it (symbolic and hard links, "..", another spelling): the same device and
// inode, on Windows the same volume serial number and file index.
bool IsSameFile(const std::string& first, const std::string& second);

// A path as the file system would take it, for comparing paths of files
// that do not exist yet: full, "." and ".." gone, the links that exist
// resolved, and on Windows in one letter case.
std::string FullPathKey(const std::string& path);

// Two files of a command that must not be one file.
struct OutputClash {
  std::size_t output = 0;  // index into the outputs
  std::size_t other = 0;   // index into the inputs (withInput) or the outputs
  bool withInput = false;
};

// Call before anything is opened for writing, with every file the command
// will create, replace or rename over. Finds an output that names one of
// `inputs` (IsSameFile: an output that does not exist yet names none), or
// two outputs that name one file: the same file when both exist, the same
// full path (links in it resolved) when not. Empty paths are left out.
std::optional<OutputClash> FindOutputClash(const std::vector<std::string>& inputs,
                                           const std::vector<std::string>& outputs);

}  // namespace kestrow
