// kestrow info: what a person diagnosing a disc wants to know, printed as
// far as the disc can be read.
#include <iomanip>
#include <ostream>

#include "Commands.h"
#include "KestrowCore.h"
#include "recovery/DataLocation.h"
#include "recovery/DamageReport.h"
#include "recovery/JobLayout.h"
#include "recovery/SalvagedVolume.h"
#include "text/CodePage.h"
#include "text/Messages.h"
#include "volume/CatalogScan.h"
#include "volume/PackedFormat.h"

namespace kestrow::cli {
namespace {

void Field(std::ostream& out, const char* label, const std::string& value) {
  out << std::left << std::setw(20) << (std::string(label) + ":") << value << '\n';
}

std::string Bytes(std::uint64_t bytes) {
  return std::to_string(bytes) + " bytes";
}

void PrintTrailer(std::ostream& out, const VolumeAreaRead& area) {
  const TrackTrailer& t = area.trailer;
  const std::int32_t before = area.sectorCount - 1 - area.trailerLba;
  Field(out, "Trailer", before == 0 ? std::string("\"Trkb\" in the last sector")
                                    : "\"Trkb\" in LBA " + std::to_string(area.trailerLba) + ", " +
                                          std::to_string(before) + " sector(s) before the last (" +
                                          (area.lastSectorUnreadable ? "which cannot be read" : "which holds no trailer") +
                                          ")");
  Field(out, "Volume start", std::to_string(t.volumeStart) + " (512-byte units: sector " +
                                 std::to_string(t.volumeStart / format::kUnitsPerSector) + ", byte " +
                                 std::to_string(t.volumeStart % format::kUnitsPerSector * format::kUnitSize) + ")");
  Field(out, "Volume end", std::to_string(t.volumeEnd) + " (512-byte units)");
  Field(out, "Volume area", Bytes(t.AreaBytes()));
}

void PrintVolume(std::ostream& out, const MasterDirectoryBlock& mdb, CodePage codePage) {
  Field(out, "Volume name", DiscTextToUtf8(mdb.VolumeName(), codePage));
  Field(out, "Allocation block", Bytes(mdb.drAlBlkSiz()));
  Field(out, "Allocation blocks", std::to_string(mdb.drNmAlBlks()) + " (" +
                                      std::to_string(mdb.drFreeBks()) + " free)");
}

void PrintPackTable(std::ostream& out, const JobLayout& layout) {
  const std::vector<std::int32_t>& b = layout.boundaries;
  if (b.empty()) {
    Field(out, "Packed data", "\"Pack\" table with no entries");
    return;
  }
  const int groups = static_cast<int>(b.size()) - 1;
  const int base = layout.base;
  Field(out, "Packed data", std::to_string(b.size()) + " table entries, " + std::to_string(groups) +
                                " sector group(s) of 248 sectors");
  Field(out, "Packed span", "volume bytes " + std::to_string(b.front()) + " to " + std::to_string(b.back()));
  Field(out, "Group 0", "LBA " + std::to_string(base));
}

}  // namespace

bool Commands::ScanRecordsOrSayWhy(std::span<const std::uint8_t> image, const std::vector<ByteSpan>& unreadable,
                                   CatalogRecords& records) {
  try {
    records = ScanCatalogRecords(image, unreadable);
    return true;
  } catch (const std::exception& e) {
    records = CatalogRecords{};
    Fail(msg::kCatalogTooDamaged, msg::ExceptionReason(e));
    return false;
  }
}

int Commands::Info(const SourceOptions& options, const InfoOptions& info) {
  const auto selected = SelectSource(options);
  if (!selected) return kExitFailed;
  Field(m_out, "Source", selected->source);
  Field(m_out, "Sectors", std::to_string(selected->sectorCount));

  CKestrowCore core(selected->source, options.mapfile);
  if (info.keepGoing) return SalvagedInfo(core, info);
  VolumeImage image;
  VolumeAreaRead area;
  const bool loaded = core.LoadVolumeImage(image, area);
  Note(core);
  if (area.trailerLba >= 0 && !core.DiscChanged()) PrintTrailer(m_out, area);
  if (!loaded) {
    FailVolumeLoad(core, area);
    return kExitFailed;
  }

  MasterDirectoryBlock mdb;
  if (!core.ReadMasterDirectoryBlock(image, mdb) || image.size() < format::kCatalogScanOffset) {
    Fail(msg::kUnknownFormat, "no HFS master directory block in the volume area");
    return kExitFailed;
  }
  PrintVolume(m_out, mdb, info.macRoman ? CodePage::kMacRoman : CodePage::kWindows1252);

  CatalogRecords records;
  if (!ScanRecordsOrSayWhy(image, {}, records)) return kExitFailed;
  Field(m_out, "Files", std::to_string(records.files.size()) + " listed (the volume counts " +
                            std::to_string(mdb.drFilCnt()) + ")");
  Field(m_out, "Folders", std::to_string(records.dirs.size()) + " (the volume counts " +
                              std::to_string(mdb.drDirCnt()) + " besides the root)");

  std::vector<std::int32_t> boundaries;
  if (!ReadPackTable(image, boundaries)) {
    Field(m_out, "Packed data", "no \"Pack\" table: file contents cannot be located");
    return kExitFailed;
  }
  PrintPackTable(m_out, MakeJobLayout(area, image.size(), boundaries, mdb));
  return kExitOk;
}

int Commands::SalvagedInfo(CKestrowCore& core, const InfoOptions& info) {
  SalvagedVolume salvaged;
  const bool loaded = core.LoadSalvagedVolume(salvaged, ReadPolicy{info.retries, true});
  Note(core);
  if (core.DiscChanged()) {
    Fail(msg::kDiscChanged);
    return kExitFailed;
  }
  const VolumeAreaRead& area = salvaged.area;
  if (area.trailerLba >= 0) {
    PrintTrailer(m_out, area);
  } else if (area.sectorCount > 0) {
    const std::string why = DescribeVolumeAreaFailure(area);
    Field(m_out, "Trailer", why.empty() ? std::string("not found") : "not found: " + why);
  }
  if (!salvaged.areaLoaded && !salvaged.GroupsFoundBySearch()) {
    Fail(msg::kNotBurnedByKestrow, salvaged.failure);
    return kExitFailed;
  }
  const SalvageFacts facts = FactsOf(salvaged);
  if (!loaded) {
    m_out << SalvageFactsText(facts);
    Fail(salvaged.metadataGone ? msg::kMetadataGone : msg::kUnknownFormat, salvaged.failure);
    return kExitFailed;
  }
  Field(m_out, "Metadata source", MetadataSourceName(salvaged.source));
  MasterDirectoryBlock mdb;
  core.ReadMasterDirectoryBlock(salvaged.image, mdb);
  PrintVolume(m_out, mdb, info.macRoman ? CodePage::kMacRoman : CodePage::kWindows1252);
  CatalogRecords records;
  if (!ScanRecordsOrSayWhy(salvaged.image, salvaged.unreadableBytes, records)) return kExitFailed;
  Field(m_out, "Files", std::to_string(records.files.size()) + " listed (the volume counts " +
                            std::to_string(mdb.drFilCnt()) + ")");
  Field(m_out, "Folders", std::to_string(records.dirs.size()) + " (the volume counts " +
                              std::to_string(mdb.drDirCnt()) + " besides the root)");
  if (records.lostNodes > 0) Field(m_out, "Catalogue nodes", std::to_string(records.lostNodes) + " lost");
  const JobLayout layout = MakeJobLayout(salvaged, mdb);
  if (salvaged.packTableRead) {
    PrintPackTable(m_out, layout);
  } else {
    // The groups found by search, without the metadata line said above.
    SalvageFacts groups = facts;
    groups.source = MetadataSource::kVolumeArea;
    m_out << SalvageFactsText(groups);
  }
  if (!salvaged.unreadable.empty()) {
    Field(m_out, "Unreadable sectors", std::to_string(salvaged.unreadable.size()));
  }
  return kExitOk;
}

}  // namespace kestrow::cli
