// Every field of every file table row, as JSON for scripts.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "text/CodePage.h"
#include "volume/FileEntry.h"

namespace kestrow::cli {

// Names, types and creators are read in `codePage`.
nlohmann::ordered_json FileTableToJson(const FileTable& files, const std::string& source,
                                       CodePage codePage = CodePage::kWindows1252);

}  // namespace kestrow::cli
