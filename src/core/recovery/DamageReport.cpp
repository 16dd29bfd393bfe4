#include "recovery/DamageReport.h"

#include <cstdio>

#include "recovery/DamageScan.h"

namespace kestrow {
namespace {

// A JSON string: quotes, backslashes and control characters escaped; the
// bytes of UTF-8 text pass as they are.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

template <typename Span, typename First, typename Last>
std::string JsonPairs(const std::vector<Span>& spans, First first, Last last) {
  std::string out = "[";
  for (std::size_t i = 0; i < spans.size(); ++i) {
    if (i > 0) out += ", ";
    out += "[" + std::to_string(first(spans[i])) + ", " + std::to_string(last(spans[i])) + "]";
  }
  return out + "]";
}

}  // namespace

const char* StatusName(FileStatus status) {
  switch (status) {
    case FileStatus::kWhole: return "whole";
    case FileStatus::kDamaged: return "damaged";
    case FileStatus::kLost: return "lost";
    case FileStatus::kPending:
    case FileStatus::kNotWritten: break;
  }
  return "not-written";
}

DamageReport ReportOfRecovery(const RecoveryOutcome& outcome, const std::vector<FileEntry>& files,
                              const DisplayPathFunction& displayPath) {
  DamageReport report;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileResult result = i < outcome.files.size() ? outcome.files[i] : FileResult{};
    ReportedFile file{displayPath(files[i]), result.status, files[i].dataLogicalLength, result.lostRanges,
                      result.reason, result.rsrcLostRanges};
    if (result.status == FileStatus::kPending) file.reason = "the job ended before it";
    report.files.push_back(std::move(file));
  }
  report.unreadableSectors = outcome.unreadableSectors;
  report.lostCatalogNodes = outcome.lostCatalogNodes;
  report.salvage = outcome.salvage;
  return report;
}

DamageReport ReportOfScan(const DamageScan& scan, const DisplayPathFunction& displayPath) {
  DamageReport report;
  for (std::size_t i = 0; i < scan.files.size() && i < scan.results.size(); ++i) {
    const FileResult& result = scan.results[i];
    if (result.status == FileStatus::kWhole) continue;
    report.files.push_back(ReportedFile{displayPath(scan.files[i]), result.status, scan.files[i].dataLogicalLength,
                                        result.lostRanges, result.reason, {}});
  }
  report.unreadableSectors = scan.unreadableSectors;
  report.lostCatalogNodes = scan.lostCatalogNodes;
  report.salvage = scan.salvage;
  return report;
}

std::string LostRangesText(const std::vector<ByteSpan>& ranges) {
  std::string text;
  for (const ByteSpan& range : ranges) {
    if (!text.empty()) text += ", ";
    text += std::to_string(range.begin);
    if (range.end - range.begin > 1) text += "-" + std::to_string(range.end - 1);
  }
  return text;
}

std::string FormatDamageReportJson(const DamageReport& report) {
  std::string out = "{\n  \"files\": [";
  for (std::size_t i = 0; i < report.files.size(); ++i) {
    const ReportedFile& f = report.files[i];
    out += i == 0 ? "\n    " : ",\n    ";
    out += "{\"path\": " + JsonString(f.path) + ", \"status\": \"" + StatusName(f.status) +
           "\", \"size\": " + std::to_string(f.size) + ", \"lostRanges\": " +
           JsonPairs(f.lostRanges, [](const ByteSpan& s) { return s.begin; }, [](const ByteSpan& s) { return s.end; });
    if (!f.reason.empty()) out += ", \"reason\": " + JsonString(f.reason);
    if (!f.rsrcLostRanges.empty()) {
      out += ", \"resourceForkLostRanges\": " +
             JsonPairs(f.rsrcLostRanges, [](const ByteSpan& s) { return s.begin; },
                       [](const ByteSpan& s) { return s.end; });
    }
    out += "}";
  }
  out += report.files.empty() ? "],\n" : "\n  ],\n";
  out += "  \"unreadableSectors\": " +
         JsonPairs(report.unreadableSectors, [](const SectorSpan& s) { return s.first; },
                   [](const SectorSpan& s) { return s.last; }) +
         ",\n";
  out += "  \"lostCatalogNodes\": " + std::to_string(report.lostCatalogNodes);
  if (report.volumeImage) {
    const VolumeImageDamage& image = *report.volumeImage;
    out += ",\n  \"lostVolumeRanges\": " +
           JsonPairs(image.lostRanges, [](const ByteSpan& s) { return s.begin; }, [](const ByteSpan& s) { return s.end; });
    out += ",\n  \"structuresHit\": [";
    for (std::size_t i = 0; i < image.structuresHit.size(); ++i) {
      out += (i == 0 ? "" : ", ") + JsonString(image.structuresHit[i]);
    }
    out += "],\n  \"bytesDifferingFromVolumeArea\": " + std::to_string(image.bytesDifferingFromArea);
  }
  const SalvageFacts& salvage = report.salvage;
  if (salvage.used) {
    if (salvage.metadataGone) {
      out += ",\n  \"metadataGone\": true";
    } else {
      out += ",\n  \"metadataSource\": \"" + std::string(MetadataSourceName(salvage.source)) + "\"";
    }
    out += ",\n  \"groupsFoundBySearch\": [";
    for (std::size_t i = 0; i < salvage.groupsFoundBySearch.size(); ++i) {
      const SalvageFacts::Group& g = salvage.groupsFoundBySearch[i];
      out += (i == 0 ? "" : ", ");
      out += "{\"group\": " + std::to_string(g.index) + ", \"lba\": " + std::to_string(g.lba) +
             ", \"volumeBytes\": [" + std::to_string(g.firstByte) + ", " + std::to_string(g.endByte) + "]}";
    }
    out += "],\n  \"groupsLost\": [";
    for (std::size_t i = 0; i < salvage.groupsLost.size(); ++i) {
      out += (i == 0 ? "" : ", ") + std::to_string(salvage.groupsLost[i]);
    }
    out += "]";
  }
  out += "\n}\n";
  return out;
}

std::string SalvageFactsText(const SalvageFacts& facts, bool listGroups) {
  if (!facts.used) return {};
  std::string text;
  if (facts.metadataGone) {
    text += "Metadata: gone with the disc's end (the packed data does not hold the volume's first blocks)\n";
  } else if (facts.source == MetadataSource::kPackedCopy) {
    text += "Metadata: from the packed copy (the volume area could not be read)\n";
  } else if (facts.source == MetadataSource::kBoth) {
    text += "Metadata: from the volume area, with its unreadable bytes from the packed copy\n";
  }
  if (facts.groupsSearched) {
    text += "Groups found by search (no readable \"Pack\" table): " +
            std::to_string(facts.groupsFoundBySearch.size()) + "\n";
    for (const SalvageFacts::Group& g : facts.groupsFoundBySearch) {
      if (!listGroups) break;
      text += "  group " + std::to_string(g.index) + " at LBA " + std::to_string(g.lba) + ": volume bytes " +
              std::to_string(g.firstByte) + " to " + std::to_string(g.endByte) + "\n";
    }
  }
  // Indented under the groups found by search; on lines of their own when
  // the "Pack" table placed the groups.
  for (const int k : facts.groupsLost) {
    text += (facts.groupsSearched ? "  group " : "Group ") + std::to_string(k) +
            ": its block table could not be read; its files' bytes are lost\n";
  }
  return text;
}

}  // namespace kestrow
