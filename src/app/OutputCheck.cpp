#include "OutputCheck.h"

#include "Host.h"
#include "drive/SourceFiles.h"
#include "text/Messages.h"

namespace kestrow::app {

bool OutputSparesTheSource(Host& host, const std::vector<std::string>& sourceFiles, const std::string& output) {
  if (!FindOutputClash(sourceFiles, {output})) return true;
  host.ShowMessage(msg::kOutputIsSource, MessageStyle::kOk);
  return false;
}

}  // namespace kestrow::app
