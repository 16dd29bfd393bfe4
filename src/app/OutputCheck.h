// The check every command of the desktop application makes before it writes
// a file the user named: never one the disc is read from.
#pragma once

#include <string>
#include <vector>

namespace kestrow::app {

class Host;

// Refuses `output`, with the message, when it is one of `sourceFiles` (the
// image being read, its cue sheet's data file, its mapfile); true when it is
// none of them. Call before anything is opened for writing.
bool OutputSparesTheSource(Host& host, const std::vector<std::string>& sourceFiles, const std::string& output);

}  // namespace kestrow::app
