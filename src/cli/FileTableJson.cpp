#include "FileTableJson.h"

#include "text/CodePage.h"
#include "text/HfsDate.h"

namespace kestrow::cli {
namespace {

using Json = nlohmann::ordered_json;

std::string FourCharCode(const std::array<char, 5>& code, CodePage codePage) {
  return DiscTextToUtf8(std::string_view(code.data(), 4), codePage);
}

// The catalogue record's three extents as stored, then those of the
// extents overflow file.
Json Extents(const std::array<ExtentDescriptor, 3>& extents, const std::vector<ExtentDescriptor>& overflow) {
  Json list = Json::array();
  const auto add = [&list](const ExtentDescriptor& extent) {
    list.push_back(Json{{"startBlock", extent.startBlock}, {"blockCount", extent.blockCount}});
  };
  for (const ExtentDescriptor& extent : extents) add(extent);
  for (const ExtentDescriptor& extent : overflow) add(extent);
  return list;
}

Json Fork(std::uint32_t startBlock, std::uint32_t logical, std::uint32_t physical,
          const std::array<ExtentDescriptor, 3>& extents, const std::vector<ExtentDescriptor>& overflow) {
  return Json{{"startBlock", startBlock},
              {"logicalLength", logical},
              {"physicalLength", physical},
              {"extents", Extents(extents, overflow)}};
}

Json Row(std::size_t index, const FileEntry& e, CodePage codePage) {
  const auto text = [codePage](const std::string& bytes) { return DiscTextToUtf8(bytes, codePage); };
  return Json{{"row", index},
              {"displayPath", text(e.DisplayPath())},
              {"path", text(e.path)},
              {"name", text(e.name)},
              {"type", FourCharCode(e.fileType, codePage)},
              {"creator", FourCharCode(e.creator, codePage)},
              {"fileId", e.fileId},
              {"parentId", e.parentId},
              {"approxSize", e.ApproxSize()},
              {"dataFork", Fork(e.dataStartBlock, e.dataLogicalLength, e.dataPhysicalLength, e.dataExtents,
                                e.dataOverflowExtents)},
              {"resourceFork", Fork(e.rsrcStartBlock, e.rsrcLogicalLength, e.rsrcPhysicalLength, e.rsrcExtents,
                                    e.rsrcOverflowExtents)},
              {"created", HfsDateToIso8601(e.createDate)},
              {"modified", HfsDateToIso8601(e.modifyDate)},
              {"clumpSize", e.clumpSize},
              {"deleted", e.deleted}};
}

}  // namespace

nlohmann::ordered_json FileTableToJson(const FileTable& files, const std::string& source, CodePage codePage) {
  Json rows = Json::array();
  for (std::size_t i = 0; i < files.size(); ++i) rows.push_back(Row(i, files[i], codePage));
  return Json{{"source", source}, {"fileCount", files.size()}, {"files", std::move(rows)}};
}

}  // namespace kestrow::cli
