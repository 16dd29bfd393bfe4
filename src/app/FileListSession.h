// What the file list window does, without widgets: its rows (path and name
// in the chosen code page, the size of both forks, and after a damage scan
// what the scan found), the count line, the options and their persistence,
// and the commands: Recover Selected Files... with its refusals and the
// 200 ms poll of the job, Find Damage..., Save List..., Save Volume Image...
// and the stop before the window closes. The window (a FileListView) shows
// what the session tells it; the session lives for the command that read the
// table.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CoreFactory.h"
#include "Host.h"
#include "recovery/RecoveryJob.h"
#include "text/CodePage.h"
#include "volume/FileEntry.h"

namespace kestrow::app {

class DamageScanRunner;
class VolumeImageRunner;

// The file list window, as the session sees it.
class FileListView {
 public:
  virtual ~FileListView() = default;
  // The rows selected in the list, ascending.
  virtual std::vector<int> SelectedRows() const = 0;
  // The status line under the list.
  virtual void ShowJobStatus(const std::string& text) = 0;
  // The progress bar under the status line, in parts per thousand.
  virtual void ShowProgress(bool shown, int permille) = 0;
  // OnTimer every 200 ms from StartTimer until StopTimer.
  virtual void StartTimer() = 0;
  virtual void StopTimer() = 0;
  // Recover Selected Files..., Find Damage... and Save Volume Image... on or
  // off (off while a scan reads or an image is written).
  virtual void EnableJobCommands(bool enabled) = 0;
  // The row texts changed; `columnAdded` when the damage column appeared.
  virtual void RowsChanged(bool columnAdded) = 0;
};

class FileListSession {
 public:
  // Poll period of the job and the scan, and the job timer's id.
  static constexpr int kTimerMilliseconds = 200;
  static constexpr unsigned kTimerId = 1234;

  // `table` must outlive the session; `source` is the drive or image it was
  // read from, and `makeCore` gives the session's core for that source.
  FileListSession(const FileTable* table, std::string source, const CoreFactory& makeCore, Host& host);
  // Stops a scan or a job that still runs and waits for its worker.
  ~FileListSession();
  FileListSession(const FileListSession&) = delete;
  FileListSession& operator=(const FileListSession&) = delete;

  // The window that shows the session (nullptr when it has gone).
  void Attach(FileListView* view) { m_view = view; }
  // The volume the table was read from: a job then makes sure the disc still
  // holds it before it writes anything.
  void SetListedVolume(ListedVolume volume) { m_listedVolume = std::move(volume); }

  // Rows: row i is entry i of the table.
  std::size_t RowCount() const { return m_table->size(); }
  std::string PathText(std::size_t row) const;
  std::string SizeText(std::size_t row) const;
  bool HasDamageColumn() const { return m_hasDamageColumn; }
  std::string DamageText(std::size_t row) const;
  const std::string& FileCountText() const { return m_fileCount; }
  const std::string& JobStatus() const { return m_jobStatus; }
  const FileTable& Table() const { return *m_table; }

  // Options. The first two are remembered between runs.
  bool MacRomanNames() const { return m_macRoman; }
  void SetMacRomanNames(bool on);
  bool ResourceForksAndDates() const { return m_resourceForks; }
  void SetResourceForksAndDates(bool on);
  bool KeepGoing() const { return m_keepGoing; }
  void SetKeepGoing(bool on) { m_keepGoing = on; }
  RecoveryOptions JobOptions() const;
  CodePage NameCodePage() const { return m_macRoman ? CodePage::kMacRoman : CodePage::kWindows1252; }

  // Commands.
  void OnRecoverSelectedFiles();
  void OnTimer();
  void OnFindDamage();
  void OnSaveList();
  // Save Volume Image...: the disc's HFS volume as one image file, written
  // on a thread of its own while the timer shows its progress.
  void OnSaveVolumeImage();
  // Before the window closes, however it closes: a scan is stopped, and a
  // running job is stopped after the file in hand and the user told so.
  void StopBeforeClosing();

  bool IsJobRunning() const;
  bool IsScanRunning() const { return m_scan != nullptr; }
  bool IsImageRunning() const { return m_image != nullptr; }
  // The save dialog's default name for the volume image, without its extension.
  std::string VolumeImageName() const;
  bool TimerActive() const { return m_timerActive; }
  CKestrowCore& Core() const { return *m_core; }

 private:
  void StartTimer();
  void StopTimer();
  void ShowStatus(std::string text);
  void ShowProgress(bool shown, int permille = 0);
  void OnJobTimer();
  void OnScanTimer();
  void EndFailedJob();
  void ReportFilesNotWritten();
  // After a job that went on past damaged sectors: the damaged and lost files.
  void ShowDamageReport();
  void ShowScanResult(const DamageScanRunner& runner);
  void OnImageTimer();
  void ShowImageResult(const VolumeImageRunner& runner);
  // A job that ended since the last tick is reported before anything else;
  // true when a job still runs (the user has been told).
  bool RefuseWhileJobRuns();

  const FileTable* m_table;
  std::string m_source;
  CoreFactory m_makeCore;
  Host& m_host;
  std::unique_ptr<CKestrowCore> m_core;
  FileListView* m_view = nullptr;
  std::string m_fileCount;
  std::string m_jobStatus;
  bool m_macRoman = false;
  bool m_resourceForks = false;
  bool m_keepGoing = false;
  bool m_timerActive = false;
  CodePage m_jobCodePage = CodePage::kWindows1252;  // how the running job's status names are read
  std::optional<ListedVolume> m_listedVolume;
  std::vector<FileEntry> m_jobSelection;  // the running or last job's files
  bool m_jobKeptGoing = false;
  std::unique_ptr<DamageScanRunner> m_scan;
  std::unique_ptr<VolumeImageRunner> m_image;
  std::vector<std::string> m_damage;  // per row, after a scan
  bool m_hasDamageColumn = false;
};

// The destination of a job: the folder and one path separator.
std::string JobDestination(const std::string& folder);

}  // namespace kestrow::app
