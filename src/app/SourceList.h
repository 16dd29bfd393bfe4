// The main dialog's list of sources: the optical drives, then the disc images
// named on the command line or opened later, and which one is selected.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kestrow::app {

struct SourceItem {
  std::string source;  // the device path or the image's full path (UTF-8)
  std::string shown;   // what the list shows: the drive, or the image's file name ("rescued.bin (with rescued.map)")
  bool image = false;
  std::string mapfile;  // the GNU ddrescue map beside the image, read with it; empty when none
};

class SourceList {
 public:
  void AddDrive(const std::string& drive);
  // Adds a disc image (or finds it, by its full path) and selects it;
  // returns its index. The map beside it, found anew each time, is named
  // in what the list shows.
  std::size_t AddImage(const std::string& path);

  const std::vector<SourceItem>& Items() const { return m_items; }
  bool Empty() const { return m_items.empty(); }
  std::optional<std::size_t> Selected() const { return m_selected; }
  // An index past the end selects nothing.
  void Select(std::size_t index);

 private:
  std::vector<SourceItem> m_items;
  std::optional<std::size_t> m_selected;
};

}  // namespace kestrow::app
