// What the main dialog's commands do, without widgets: the drive-selection
// step every command takes first, Check Format, Browse File List (with the
// offer to go on past a disc's unreadable end), Get Volume Size, Physical
// Dump and Open Image. Everything the user sees goes through the Host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CoreFactory.h"
#include "Host.h"
#include "SourceList.h"

namespace kestrow::app {

class MainCommands {
 public:
  explicit MainCommands(Host& host, CoreFactory makeCore = DefaultCoreFactory());

  // Fills the list: the drives, then the images, the first image selected
  // (else the first drive).
  void FillSources(const std::vector<std::string>& drives, const std::vector<std::string>& images);
  SourceList& Sources() { return m_sources; }
  const SourceList& Sources() const { return m_sources; }

  // Once the dialog is on the screen: "No CD drive found..." when the list
  // is empty.
  void WarnWhenNoDrive();

  // The step every command takes first: the selected source and the number
  // of sectors of the disc in it (at least 2). False when there is none; the
  // user has then been told why.
  bool GetSelectedDrive(std::string& source, std::int32_t& sectorCount);

  void OnCheckFormat();
  void OnBrowseFileList();
  void OnGetVolumeSize();
  void OnPhysicalDump();
  // Open Image...: true when an image was chosen (added or found, and selected).
  bool OnOpenImage();
  void OnAbout() { m_host.ShowAboutBox(); }

  Host& GetHost() { return m_host; }
  const CoreFactory& GetCoreFactory() const { return m_makeCore; }

 private:
  // Browse File List on a disc whose end could not be read: the list from
  // the packed copy of the volume, the groups found by search.
  void BrowseSalvagedFileList(CKestrowCore& core, const std::string& source);
  // "Error: I don't understand this CD format...", or, when a scan threw
  // (`tooDamaged` says why), that the catalogue is too damaged to list.
  void ShowScanFailure(const std::string& tooDamaged);

  Host& m_host;
  CoreFactory m_makeCore;
  SourceList m_sources;
};

// The open dialog's types for a disc image.
std::vector<FileFilter> DiscImageFilters();

}  // namespace kestrow::app
