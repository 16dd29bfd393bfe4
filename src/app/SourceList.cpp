#include "SourceList.h"

#include <filesystem>
#include <system_error>

#include "AppText.h"
#include "drive/MapBeside.h"
#include "platform/FileSystem.h"

namespace kestrow::app {
namespace {

std::string FullPath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(PathFromUtf8(path), ec);
  return ec ? path : Utf8FromPath(full.lexically_normal());
}

std::string FileNameOf(const std::string& path) {
  const std::string name = Utf8FromPath(PathFromUtf8(path).filename());
  return name.empty() ? path : name;
}

}  // namespace

void SourceList::AddDrive(const std::string& drive) { m_items.push_back({drive, drive, false, {}}); }

std::size_t SourceList::AddImage(const std::string& path) {
  const std::string full = FullPath(path);
  std::size_t index = 0;
  while (index < m_items.size() &&
         !(m_items[index].image && FileNameKey(m_items[index].source) == FileNameKey(full))) {
    ++index;
  }
  if (index == m_items.size()) m_items.push_back({full, {}, true, {}});
  SourceItem& item = m_items[index];
  item.mapfile = FindMapBesideImage(full);
  item.shown = item.mapfile.empty() ? FileNameOf(full)
                                    : FillText(text::kImageWithMapFormat, {FileNameOf(full), FileNameOf(item.mapfile)});
  m_selected = index;
  return index;
}

void SourceList::Select(std::size_t index) {
  if (index < m_items.size()) {
    m_selected = index;
  } else {
    m_selected.reset();
  }
}

}  // namespace kestrow::app
