// kestrow list: the file table of a Kestrow PRO disc.
#include <cstdio>
#include <ostream>

#include "Commands.h"
#include "FileTableJson.h"
#include "KestrowCore.h"
#include "filelist/FileListExport.h"
#include "platform/FileSystem.h"
#include "text/CodePage.h"
#include "recovery/DamageReport.h"
#include "recovery/SalvagedVolume.h"
#include "text/Messages.h"
#include "volume/PackedFormat.h"

namespace kestrow::cli {
namespace {

bool WriteText(const std::string& path, const std::string& text) {
  std::FILE* file = OpenFile(path, "wb");
  if (!file) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

std::string Commands::ShownPath(const FileEntry& entry, CodePage codePage) {
  return DiscTextToUtf8(FileListPathText(entry), codePage);
}

bool Commands::ScanCatalogOrSayWhy(CKestrowCore& core, const VolumeImage& image, FileTable& files,
                                   const std::vector<ByteSpan>& unreadable, std::size_t& lostNodes,
                                   bool includeDeleted) {
  try {
    if (core.ScanCatalog(image, files, unreadable, lostNodes, includeDeleted)) return true;
    Fail(msg::kUnknownFormat);
  } catch (const std::exception& e) {
    files.clear();
    Fail(msg::kCatalogTooDamaged, msg::ExceptionReason(e));
  }
  return false;
}

std::optional<FileTable> Commands::LoadFileTable(const Selected& selected, const SourceOptions& options,
                                                 const ReadPolicy& policy, LoadedVolume* loaded,
                                                 bool includeDeleted) {
  CKestrowCore core(selected.source, options.mapfile);
  if (policy.keepGoing) {
    std::optional<FileTable> files = LoadSalvagedFileTable(core, policy, loaded, includeDeleted);
    Note(core);
    return files;
  }
  VolumeImage image;
  VolumeAreaRead area;
  const bool read = core.LoadVolumeImage(image, area, policy);
  Note(core);
  if (!read) {
    FailVolumeLoad(core, area);
    return std::nullopt;
  }
  FileTable files;
  std::size_t lostNodes = 0;
  MasterDirectoryBlock mdb;
  if (Overlaps(area.unreadableBytes, format::kMdbOffset, format::kMdbOffset + format::kMdbSize)) {
    Fail(msg::kUnknownFormat, "the sectors holding the volume's master directory block could not be read");
    return std::nullopt;
  }
  if (!core.ReadMasterDirectoryBlock(image, mdb)) {
    Fail(msg::kUnknownFormat);
    return std::nullopt;
  }
  if (!ScanCatalogOrSayWhy(core, image, files, area.unreadableBytes, lostNodes, includeDeleted)) return std::nullopt;
  if (loaded) {
    loaded->volume = ListedVolume{mdb.VolumeName(), mdb.drCrDate()};
    loaded->lostCatalogNodes = lostNodes;
    loaded->unreadable = area.unreadable;
  }
  return files;
}

std::optional<FileTable> Commands::LoadSalvagedFileTable(CKestrowCore& core, const ReadPolicy& policy,
                                                         LoadedVolume* loaded, bool includeDeleted) {
  SalvagedVolume salvaged;
  const bool ok = core.LoadSalvagedVolume(salvaged, policy);
  if (loaded) {
    loaded->salvage = FactsOf(salvaged);
    loaded->unreadable = salvaged.unreadable;
  }
  if (!ok && core.DiscChanged()) {
    Fail(msg::kDiscChanged);
    return std::nullopt;
  }
  if (!ok) {
    if (salvaged.metadataGone) m_err << SalvageFactsText(FactsOf(salvaged), m_verbose);
    Fail(SalvageFailureMessage(salvaged), salvaged.failure);
    return std::nullopt;
  }
  FileTable files;
  std::size_t lostNodes = 0;
  MasterDirectoryBlock mdb;
  if (!core.ReadMasterDirectoryBlock(salvaged.image, mdb)) {
    Fail(msg::kUnknownFormat);
    return std::nullopt;
  }
  if (!ScanCatalogOrSayWhy(core, salvaged.image, files, salvaged.unreadableBytes, lostNodes, includeDeleted)) {
    return std::nullopt;
  }
  if (loaded) {
    loaded->volume = ListedVolume{mdb.VolumeName(), mdb.drCrDate()};
    loaded->lostCatalogNodes = lostNodes;
  }
  return files;
}

bool Commands::ReportSalvagedList(const LoadedVolume& loaded) {
  m_err << SalvageFactsText(loaded.salvage, m_verbose);
  if (!loaded.unreadable.empty()) {
    const std::vector<SectorSpan> spans = ToSectorSpans(loaded.unreadable);
    m_err << "Unreadable sectors:";
    for (std::size_t i = 0; i < spans.size(); ++i) {
      m_err << (i == 0 ? " " : ", ") << spans[i].first;
      if (spans[i].last != spans[i].first) m_err << '-' << spans[i].last;
    }
    m_err << '\n';
  }
  if (loaded.lostCatalogNodes > 0) {
    m_err << "Catalogue nodes lost: " << loaded.lostCatalogNodes << " (the files they listed cannot be found)\n";
    return false;
  }
  return true;
}

int Commands::List(const SourceOptions& options, const ListOptions& list) {
  const auto selected = SelectSource(options);
  if (!selected) return kExitFailed;
  if (!OutputsSpareTheSource(*selected, options, {{list.outputFile, "the list"}})) return kExitUsage;
  LoadedVolume loaded;
  const std::optional<FileTable> table =
      LoadFileTable(*selected, options, ReadPolicy{list.retries, list.keepGoing}, &loaded, list.deleted);
  if (!table) return kExitFailed;
  // Keep-going says what the list may lack; files of lost catalogue nodes make the exit status 1.
  const int done = !list.keepGoing || ReportSalvagedList(loaded) ? kExitOk : kExitFailed;
  const FileTable& files = *table;
  const CodePage codePage = list.macRoman ? CodePage::kMacRoman : CodePage::kWindows1252;

  if (list.json) {
    const std::string text = FileTableToJson(files, selected->source, codePage).dump(2) + "\n";
    if (list.outputFile.empty()) {
      m_out << text;
    } else if (!WriteText(list.outputFile, text)) {
      Fail(msg::kFailedToOpenFile, "could not write " + list.outputFile);
      return kExitFailed;
    }
    return done;
  }

  if (!list.outputFile.empty()) {
    switch (WriteFileListExport(files, list.outputFile)) {
      case ExportResult::kWritten:
        return done;
      case ExportResult::kOpenFailed:
        Fail(msg::kFailedToOpenFile, "cannot create " + list.outputFile);
        return kExitFailed;
      case ExportResult::kWriteFailed:
        Fail(msg::kExportWriteFailed,
             "writing " + list.outputFile + " failed (is the disk full?)");
        return kExitFailed;
    }
  }

  for (const FileEntry& entry : files) {
    m_out << ShownPath(entry, codePage) << (entry.deleted ? " (deleted)" : "") << '\t' << FileListSizeText(entry)
          << '\n';
  }
  return done;
}

}  // namespace kestrow::cli
