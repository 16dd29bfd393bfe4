// What the application layer asks of a face: the things that wait for a
// person (message boxes, questions, file and folder dialogs, the modal
// windows), the busy cursor, and where settings are kept. Each face (Qt on
// Linux, Win32 on Windows) implements it once; tests record instead.
//
// Texts and paths are UTF-8 on every platform; a face converts them at its
// own toolkit's edge.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrow {
struct DamageReport;
}

namespace kestrow::app {

class FileListSession;

// The two kinds of message: a failure or a negative answer (warning icon),
// and a result (information icon). The values are those of the Windows styles.
enum class MessageStyle : unsigned {
  kOk = 0x00,               // MB_OK
  kIconInformation = 0x40,  // MB_ICONINFORMATION
};

// The caption of every message box: the program's name.
inline constexpr char kMessageCaption[] = "KestrowDiag";

// A first and last sector, 1-based and inclusive, as the user chose them,
// and whether the range is to be read as a resumable rescue image (an image
// of the whole disc with a GNU ddrescue map beside it).
struct SectorRange {
  std::uint32_t start = 1;
  std::uint32_t end = 1;
  bool rescue = false;
};

// One entry of an open dialog's type list: "Disc images" and its patterns.
struct FileFilter {
  std::string name;
  std::vector<std::string> patterns;  // "*.bin", ...
};

// Settings kept between runs (QSettings on Linux, the registry under
// HKCU\Software\KestrowDiag on Windows). Keys look like "FileList/MacRomanNames".
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual bool GetBool(const std::string& key, bool fallback) = 0;
  virtual void SetBool(const std::string& key, bool value) = 0;
};

// The physical dump's progress window, shown for as long as the object lives.
class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;
  // "Reading done/total...", with `done` of `total` sectors in the file.
  virtual void ShowProgress(const std::string& text, int done, int total) = 0;
  // A rescue dump's state, several lines (FormatRescueStatus); called on
  // the user-interface thread, perhaps never.
  virtual void ShowRescueStatus(const std::string& text) = 0;
  // True once the user asked the dump to end.
  virtual bool CancelRequested() = 0;
};

class Host {
 public:
  virtual ~Host() = default;

  // A modal box with one OK button, owned by the window in front.
  virtual void ShowMessage(const std::string& text, MessageStyle style) = 0;
  // A modal question with Yes and No (No the default); true for Yes.
  virtual bool AskYesNo(const std::string& text) = 0;
  // The save dialog: the chosen full path, or nothing when cancelled. An
  // existing file is only offered after the user confirmed replacing it.
  virtual std::optional<std::string> ChooseSaveFile(const std::string& initialName,
                                                     const std::string& defaultExtension) = 0;
  // The open dialog; nothing when cancelled.
  virtual std::optional<std::string> ChooseOpenFile(const std::string& title,
                                                     const std::vector<FileFilter>& filters) = 0;
  // The folder browser over the window in front; nothing when cancelled.
  virtual std::optional<std::string> BrowseForFolder(const std::string& title) = 0;

  // The modal windows.
  // The sector range dialog over 1..sectorCount; nothing when cancelled.
  virtual std::optional<SectorRange> ChooseSectorRange(std::uint32_t sectorCount) = 0;
  virtual std::unique_ptr<ProgressWindow> OpenProgressWindow() = 0;
  // The file list window over `session`, until it closes.
  virtual void RunFileList(FileListSession& session) = 0;
  // The damaged and lost files of a job, with "Save Report...".
  // `sourceFiles`: the files the disc is read from, which the report may not replace.
  virtual void ShowDamageReport(const DamageReport& report, const std::vector<std::string>& sourceFiles) = 0;
  virtual void ShowAboutBox() = 0;

  // The wait cursor on or off, while the user-interface thread waits.
  virtual void SetBusy(bool busy) = 0;
  virtual SettingsStore& Settings() = 0;
};

// The wait cursor for as long as the object lives.
class BusyCursor {
 public:
  explicit BusyCursor(Host& host) : m_host(host) { m_host.SetBusy(true); }
  ~BusyCursor() { m_host.SetBusy(false); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  Host& m_host;
};

}  // namespace kestrow::app
