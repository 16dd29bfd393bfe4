// What the application layer's tests share (and the Qt face's tests reuse):
// a host that answers the commands' questions and records their messages,
// a file list window that records what the session shows, discs held in
// memory, and a transport that fails or holds reads where a test says.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "KestrowCore.h"
#include "app/CoreFactory.h"
#include "app/FileListSession.h"
#include "app/Host.h"
#include "drive/Transport.h"
#include "recovery/DamageReport.h"
#include "volume/FileEntry.h"

namespace kestrow::apptest {

struct ShownMessage {
  std::string text;
  app::MessageStyle style;
};

class MemorySettings : public app::SettingsStore {
 public:
  bool GetBool(const std::string& key, bool fallback) override;
  void SetBool(const std::string& key, bool value) override { values[key] = value; }
  std::map<std::string, bool> values;
};

// Records every message and question, answers the dialogs with what the
// test set, and hands the modal windows to the test's callbacks.
class RecordingHost : public app::Host {
 public:
  void ShowMessage(const std::string& text, app::MessageStyle style) override { messages.push_back({text, style}); }
  bool AskYesNo(const std::string& text) override;
  std::optional<std::string> ChooseSaveFile(const std::string& initialName, const std::string& extension) override;
  std::optional<std::string> ChooseOpenFile(const std::string& title, const std::vector<app::FileFilter>&) override;
  std::optional<std::string> BrowseForFolder(const std::string& title) override;
  std::optional<app::SectorRange> ChooseSectorRange(std::uint32_t sectorCount) override;
  std::unique_ptr<app::ProgressWindow> OpenProgressWindow() override;
  void RunFileList(app::FileListSession& session) override;
  void ShowDamageReport(const DamageReport& report, const std::vector<std::string>& sourceFiles) override;
  void ShowAboutBox() override { ++aboutBoxes; }
  void SetBusy(bool busy) override { busyDepth += busy ? 1 : -1; }
  app::SettingsStore& Settings() override { return settings; }

  std::vector<std::string> Texts() const;
  int Count(const std::string& text) const;

  std::vector<ShownMessage> messages;
  std::vector<std::string> questions;  // answered with `yesAnswer`
  bool yesAnswer = false;
  std::optional<std::string> saveAnswer, openAnswer, folderAnswer;
  std::vector<std::string> saveRequests;    // "initialName.extension" per save dialog
  std::vector<std::string> folderRequests;  // titles of the folder browsers
  // The sector range dialog: what it offered ("1-N"), and the answer.
  std::vector<std::string> rangeRequests;
  std::optional<app::SectorRange> rangeAnswer;
  std::vector<std::string> progressTexts;  // every text of the dump's progress window
  std::vector<std::string> rescueStatusTexts;  // every rescue status it showed
  int cancelAfterPolls = -1;  // the progress window's Cancel, after this many polls (-1: never)
  bool progressOpen = false;               // the progress window is on the screen
  std::function<void(app::FileListSession&)> onFileList;
  int fileLists = 0;
  std::vector<DamageReport> damageReports;
  std::function<void(const DamageReport&)> onDamageReport;
  int aboutBoxes = 0;
  int busyDepth = 0;
  MemorySettings settings;
};

// The file list window as a test sees it: the rows it selects, and what the
// session showed.
class RecordingView : public app::FileListView {
 public:
  std::vector<int> SelectedRows() const override { return selected; }
  void ShowJobStatus(const std::string& text) override { statuses.push_back(text); }
  void ShowProgress(bool shown, int permille) override { progressShown = shown, progress = permille; }
  void StartTimer() override { timerRunning = true; }
  void StopTimer() override { timerRunning = false; }
  void EnableJobCommands(bool enabled) override { commandsEnabled = enabled; }
  void RowsChanged(bool columnAdded) override { ++rowChanges, columnsAdded += columnAdded ? 1 : 0; }

  std::vector<int> selected;
  std::vector<std::string> statuses;
  bool progressShown = false;
  int progress = 0;
  bool timerRunning = false;
  bool commandsEnabled = true;
  int rowChanges = 0;
  int columnsAdded = 0;
};

// Ticks the session's timer every few milliseconds while it runs; false
// when it still runs after `seconds`.
bool RunTimer(app::FileListSession& session, int seconds = 10);

// How a test wants the transports of one disc to behave. Shared by every
// transport made for that disc, and read on the worker thread.
struct DiscScript {
  std::atomic<int> opens{0};
  std::atomic<int> opensAllowed{-1};  // -1: any number
  std::set<std::uint32_t> badLbas;    // READ CD fails here (set before the core is made)
  // Runs before every READ CD, on the thread that reads, with its LBA; a
  // true result fails that read.
  std::function<bool(std::uint32_t lba)> beforeRead;
};

// The core the shelf's factory makes: one that lets a test see the stop
// request of its recovery job.
class ObservableCore : public CKestrowCore {
 public:
  using CKestrowCore::CKestrowCore;
  bool StopRequested() const { return m_bStopRequest; }
};

// A transport around another that refuses opens beyond the script's budget
// and runs the script's hook before every read.
class ScriptedTransport : public Transport {
 public:
  ScriptedTransport(std::unique_ptr<Transport> inner, std::shared_ptr<DiscScript> script);

  bool Open() override;
  void Close() override { m_inner->Close(); }
  bool IsOpen() const override { return m_inner->IsOpen(); }
  CommandResult Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                        unsigned timeoutSeconds) override;
  std::string Path() const override { return m_inner->Path(); }

 private:
  std::unique_ptr<Transport> m_inner;
  std::shared_ptr<DiscScript> m_script;
};

// Discs in memory, each under a source name, as the commands' core factory
// sees them. A source that is not on the shelf cannot be opened.
class DiscShelf {
 public:
  std::shared_ptr<DiscScript> Put(const std::string& source, std::vector<std::uint8_t> userData);
  app::CoreFactory Factory() const;
  // The raw 2352-byte sector `lba` of a disc, as a drive returns it.
  std::vector<std::uint8_t> RawSector(const std::string& source, std::int32_t lba) const;

 private:
  struct Disc {
    std::shared_ptr<const std::vector<std::uint8_t>> userData;
    std::shared_ptr<DiscScript> script;
  };
  std::shared_ptr<std::map<std::string, Disc>> m_discs = std::make_shared<std::map<std::string, Disc>>();
};

// Holds the reads of a worker at one point until the test lets them go.
class ReadGate {
 public:
  // Called on the reading thread: waits while the gate is closed.
  void PassOrWait();
  void Close();
  void Open();
  // True once a reader waits at the closed gate.
  bool HasWaiter() const { return m_waiting; }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  bool m_closed = false;
  std::atomic<bool> m_waiting{false};
};

// A folder of its own under the system's temporary folder, removed with the object.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  // `relative` (UTF-8, '/' between names) under the folder, in UTF-8.
  std::string Path(const std::string& relative = {}) const;

 private:
  std::filesystem::path m_path;
};

// User data of a disc of `sectors` sectors whose last sector begins with
// `signature` (nothing written when empty).
std::vector<std::uint8_t> PlainDisc(std::uint32_t sectors, const std::string& signature = {});

// A Kestrow PRO disc whose catalogue holds the volume "Disk" with the folder
// "Docs": Disk:Docs:Letter (1000 + 300 bytes), Disk:Read Me (empty),
// Disk:Caf\xE9 (5 bytes). No packed data: it can be browsed, not recovered.
std::vector<std::uint8_t> BrowsableDisc();
// The same trailer over a volume area without a master directory block.
std::vector<std::uint8_t> DiscWithoutMdb();

// A file of a recoverable test disc: its folder under the volume "Disk"
// (empty for the volume's root), its name and its data fork.
struct DiscFile {
  std::string folder;
  std::string name;
  std::vector<std::uint8_t> data;
};

// A Kestrow PRO disc holding `files`, in this catalogue order, with packed
// data that a recovery job can copy out.
std::vector<std::uint8_t> RecoverableDisc(const std::vector<DiscFile>& files);

// `count` files: "File i", in Disk:Docs: for odd i and in Disk: for even i,
// with contents of its own spanning one to four 8 KiB blocks.
std::vector<DiscFile> NumberedFiles(int count);

// A report of `count` files, damaged and lost by turns, each damaged one
// with two lost ranges, and as many scattered unreadable sectors: what the
// damage windows must show without outgrowing the screen.
DamageReport ManyDamagedFiles(int count);

// A file table row.
FileEntry Row(const std::string& path, const std::string& name, std::uint32_t data, std::uint32_t rsrc);

// The contents of a file (a UTF-8 path), or nothing when it does not exist.
std::optional<std::string> ReadWholeFile(const std::string& path);

}  // namespace kestrow::apptest
