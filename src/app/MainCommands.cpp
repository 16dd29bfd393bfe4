#include "MainCommands.h"

#include <exception>
#include <functional>

#include "AppText.h"
#include "DumpCallbacks.h"
#include "FileListSession.h"
#include "OutputCheck.h"
#include "RescueImage.h"
#include "drive/MapBeside.h"
#include "drive/SourceFiles.h"
#include "rawtools/VolumeSize.h"
#include "recovery/SalvagedVolume.h"
#include "text/Messages.h"
#include "volume/FileEntry.h"
#include "volume/VolumeImage.h"

namespace kestrow::app {
namespace {

// Runs a catalogue scan; why it could not go on (memory ran out on a hostile
// catalogue), or empty when nothing was thrown.
std::string ScanCatalogCatching(const std::function<void()>& scan) {
  try {
    scan();
    return {};
  } catch (const std::exception& e) {
    return msg::ExceptionReason(e);
  }
}

}  // namespace

void MainCommands::ShowScanFailure(const std::string& tooDamaged) {
  if (tooDamaged.empty()) {
    m_host.ShowMessage(msg::kUnknownFormat, MessageStyle::kOk);
  } else {
    m_host.ShowMessage(std::string(msg::kCatalogTooDamaged) + "\n" + tooDamaged, MessageStyle::kOk);
  }
}

MainCommands::MainCommands(Host& host, CoreFactory makeCore) : m_host(host), m_makeCore(std::move(makeCore)) {}

std::vector<FileFilter> DiscImageFilters() {
  return {{"Disc images", {"*.bin", "*.iso", "*.img", "*.cue", "*.dat", "*.raw"}}, {"All files", {"*"}}};
}

void MainCommands::FillSources(const std::vector<std::string>& drives, const std::vector<std::string>& images) {
  for (const std::string& drive : drives) m_sources.AddDrive(drive);
  std::optional<std::size_t> firstImage;
  for (const std::string& image : images) {
    const std::size_t index = m_sources.AddImage(image);
    if (!firstImage) firstImage = index;
  }
  if (!m_sources.Empty()) m_sources.Select(firstImage.value_or(0));
}

void MainCommands::WarnWhenNoDrive() {
  if (m_sources.Empty()) m_host.ShowMessage(msg::kNoDrive, MessageStyle::kOk);
}

bool MainCommands::GetSelectedDrive(std::string& source, std::int32_t& sectorCount) {
  const std::optional<std::size_t> index = m_sources.Selected();
  if (!index) {
    m_host.ShowMessage(msg::kNoDrive, MessageStyle::kOk);
    return false;
  }
  const SourceItem& item = m_sources.Items()[*index];
  const std::string selected = item.source;
  std::int32_t count = 0;
  std::string refused;
  {
    BusyCursor busy(m_host);
    const std::unique_ptr<CKestrowCore> core = m_makeCore(selected);
    count = core->GetSectorCount();
    if (count < 2 && core->GetErrorState() == kErrorCannotOpen) refused = core->GetOpenFailureDetail();
  }
  // Whatever the cause (no access, no disc, a one-sector disc), one message;
  // a drive the system would not open, or an image or map that cannot be
  // read, says so after it.
  if (count < 2) {
    const char* why = item.image ? text::kImageRefusedFormat : text::kDriveRefusedFormat;
    m_host.ShowMessage(refused.empty() ? std::string(msg::kNoValidDisc)
                                       : std::string(msg::kNoValidDisc) + "\n\n" + FillText(why, {refused}),
                       MessageStyle::kOk);
    return false;
  }
  source = selected;
  sectorCount = count;
  return true;
}

void MainCommands::OnCheckFormat() {
  std::string source;
  std::int32_t sectorCount = 0;
  if (!GetSelectedDrive(source, sectorCount)) return;
  bool burned = false;
  bool changed = false;
  std::size_t zeros = 0;
  TrailerSearch search;
  {
    BusyCursor busy(m_host);
    const std::unique_ptr<CKestrowCore> core = m_makeCore(source);
    burned = core->CheckBurnSignature(&search);
    changed = core->DiscChanged();
    zeros = core->GetZeroSectors().size();
  }
  if (burned) {
    m_host.ShowMessage(msg::kBurnedByKestrow, MessageStyle::kIconInformation);
  } else {
    const char* message = changed ? msg::kDiscChanged : msg::kNotBurnedByKestrow;
    std::string text = WithZeroSectorNote(message, zeros);
    if (!changed && search.lastSectorUnreadable) text += std::string("\n\n") + text::kEndUnreadableAdvice;
    m_host.ShowMessage(text, MessageStyle::kOk);
  }
}

void MainCommands::OnBrowseFileList() {
  std::string source;
  std::int32_t sectorCount = 0;
  if (!GetSelectedDrive(source, sectorCount)) return;
  const std::unique_ptr<CKestrowCore> core = m_makeCore(source);
  VolumeImage image;
  VolumeAreaRead area;
  FileTable files;
  bool loaded = false;
  bool scanned = false;
  std::string tooDamaged;
  {
    BusyCursor busy(m_host);
    loaded = core->LoadVolumeImage(image, area);
    tooDamaged = ScanCatalogCatching([&] { scanned = loaded && core->ScanCatalog(image, files); });
  }
  if (!loaded && core->DiscChanged()) {
    m_host.ShowMessage(msg::kDiscChanged, MessageStyle::kOk);
    return;
  }
  if (!loaded) {
    // A sector at the disc's end that could not be read may have taken the
    // list with it; the files may still lie readable nearer the centre.
    const bool endUnreadable = area.lastSectorUnreadable || area.failedLba >= 0;
    if (endUnreadable && m_host.AskYesNo(text::kSearchDamagedDiscQuestion)) {
      BrowseSalvagedFileList(*core, source);
      return;
    }
    // A disc whose trailer was found is ours: what failed is a read.
    const char* message = area.trailerLba < 0 ? msg::kNotBurnedByKestrow : msg::kDumpFailed;
    m_host.ShowMessage(WithZeroSectorNote(message, core->GetZeroSectors().size()), MessageStyle::kOk);
    return;
  }
  if (!scanned) {
    ShowScanFailure(tooDamaged);
    return;
  }
  FileListSession session(&files, source, m_makeCore, m_host);
  MasterDirectoryBlock mdb;
  if (core->ReadMasterDirectoryBlock(image, mdb)) session.SetListedVolume(ListedVolume{mdb.VolumeName(), mdb.drCrDate()});
  m_host.RunFileList(session);
}

void MainCommands::BrowseSalvagedFileList(CKestrowCore& core, const std::string& source) {
  SalvagedVolume salvaged;
  FileTable files;
  std::size_t lostNodes = 0;
  bool loaded = false;
  bool scanned = false;
  std::string tooDamaged;
  {
    BusyCursor busy(m_host);
    loaded = core.LoadSalvagedVolume(salvaged, ReadPolicy{0, true});
    tooDamaged = ScanCatalogCatching([&] {
      scanned = loaded && core.ScanCatalog(salvaged.image, files, salvaged.unreadableBytes, lostNodes);
    });
  }
  if (!loaded) {
    const std::string message = core.DiscChanged() ? std::string(msg::kDiscChanged) : SalvageFailureMessage(salvaged);
    m_host.ShowMessage(WithZeroSectorNote(message, core.GetZeroSectors().size()), MessageStyle::kOk);
    return;
  }
  if (!scanned) {
    ShowScanFailure(tooDamaged);
    return;
  }
  if (lostNodes > 0) {
    m_host.ShowMessage(FillText(text::kLostNodesFormat, {std::to_string(lostNodes)}), MessageStyle::kOk);
  }
  FileListSession session(&files, source, m_makeCore, m_host);
  // The recovery job has to go on past the same damage to find the files' groups.
  session.SetKeepGoing(true);
  MasterDirectoryBlock mdb;
  if (core.ReadMasterDirectoryBlock(salvaged.image, mdb)) {
    session.SetListedVolume(ListedVolume{mdb.VolumeName(), mdb.drCrDate()});
  }
  m_host.RunFileList(session);
}

void MainCommands::OnGetVolumeSize() {
  std::string source;
  std::int32_t sectorCount = 0;
  if (!GetSelectedDrive(source, sectorCount)) return;
  m_host.ShowMessage(FormatVolumeSize(sectorCount), MessageStyle::kIconInformation);
}

void MainCommands::OnPhysicalDump() {
  std::string source;
  std::int32_t sectorCount = 0;
  if (!GetSelectedDrive(source, sectorCount)) return;
  const std::optional<std::string> path = m_host.ChooseSaveFile("DiscImage", "dat");
  if (!path || !OutputSparesTheSource(m_host, SourceFiles(source, FindMapBesideImage(source)), *path)) return;
  bool completed = false;
  bool readFailed = false;
  DumpStatistics stats;
  std::optional<SectorRange> rescue;
  {
    const std::unique_ptr<CKestrowCore> core = m_makeCore(source);
    HostDumpCallbacks face(m_host);
    completed = core->DumpSectors(*path, face);
    stats = core->GetDumpStatistics();
    readFailed = core->GetReadStatistics().failedSingleReads > 0;
    rescue = face.RescueChosen();
  }
  // With the rescue option the plain dump stopped before making its file.
  if (rescue) {
    RunRescueDump(m_host, m_makeCore, source, static_cast<std::uint32_t>(sectorCount), *path, *rescue);
    return;
  }
  // The progress window is gone by now.
  if (completed) {
    m_host.ShowMessage(msg::kCompleted, MessageStyle::kIconInformation);
  } else if (stats.discChanged) {
    m_host.ShowMessage(msg::kDiscChanged, MessageStyle::kOk);
  } else {
    // A full disk is no damaged disc.
    std::string text = stats.writeFailed ? msg::kImageWriteFailed : msg::kDumpFailed;
    if (!stats.writeFailed && !stats.cancelled && readFailed) text += std::string("\n\n") + text::kDumpStoppedAdvice;
    m_host.ShowMessage(text, MessageStyle::kOk);
  }
}

bool MainCommands::OnOpenImage() {
  const std::optional<std::string> path = m_host.ChooseOpenFile(text::kOpenImageTitle, DiscImageFilters());
  if (!path || path->empty()) return false;
  m_sources.AddImage(*path);
  return true;
}

}  // namespace kestrow::app
