// The files a source is read from, and the test that keeps an output file
// from being one of them: `kestrow dump self.bin -o self.bin` must not
// truncate the image it is about to read.
#pragma once

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

// Call before opening `output` for writing: the one of `sourceFiles` that
// `output` names (IsSameFile), or empty when it names none of them. An
// output that does not exist yet names none.
std::string SourceFileNamedBy(const std::string& output, const std::vector<std::string>& sourceFiles);

}  // namespace kestrow
