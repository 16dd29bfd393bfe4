// Every field of every file table row, as JSON for scripts.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "volume/FileEntry.h"

namespace kestrow::cli {

nlohmann::ordered_json FileTableToJson(const FileTable& files, const std::string& source);

}  // namespace kestrow::cli
