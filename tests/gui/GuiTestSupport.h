// What the desktop application's tests share: a host that answers the
// dialogs' questions and records their messages, discs held in memory, and a
// transport that fails or holds reads where a test says.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/CoreFactory.h"
#include "app/UiHost.h"
#include "KestrowCore.h"
#include "drive/Transport.h"
#include "volume/FileEntry.h"

namespace kestrow::guitest {

struct ShownMessage {
  QString text;
  gui::MessageStyle style;
};

// Installed for its lifetime: records every message box, answers the file
// and folder dialogs with what the test set, and runs modal dialogs through
// `onModal` (Rejected when unset).
class RecordingHost : public gui::UiHost {
 public:
  RecordingHost();
  ~RecordingHost() override;

  void ShowMessage(QWidget* owner, const QString& text, gui::MessageStyle style) override;
  bool AskYesNo(QWidget* owner, const QString& text) override;
  std::optional<QString> GetSaveFileName(QWidget* owner, const QString& initialName,
                                         const QString& defaultSuffix) override;
  std::optional<QString> GetOpenFileName(QWidget* owner, const QString& title, const QString& filter) override;
  std::optional<QString> GetExistingDirectory(QWidget* owner, const QString& title) override;
  int RunModal(QDialog& dialog) override;

  QStringList Texts() const;
  int Count(const char* text) const;

  std::vector<ShownMessage> messages;
  QStringList questions;  // every Yes/No question, answered with `yesAnswer`
  bool yesAnswer = false;
  // Answers, and what was asked.
  std::optional<QString> saveAnswer;
  std::optional<QString> openAnswer;
  std::optional<QString> folderAnswer;
  QStringList saveRequests;    // "initialName.suffix" per save dialog
  QStringList folderRequests;  // titles of the folder browsers
  QStringList modalDialogs;    // class names of the dialogs run modally
  std::function<int(QDialog&)> onModal;

 private:
  gui::UiHost* m_previous;
};

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

// Discs in memory, each under a source name, as the dialogs' core factory
// sees them. A source that is not on the shelf cannot be opened.
class DiscShelf {
 public:
  std::shared_ptr<DiscScript> Put(const std::string& source, std::vector<std::uint8_t> userData);
  gui::CoreFactory Factory() const;
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

// A file table row.
FileEntry Row(const std::string& path, const std::string& name, std::uint32_t data, std::uint32_t rsrc);

// The contents of a file, or nothing when it does not exist.
std::optional<std::string> ReadWholeFile(const QString& path);

}  // namespace kestrow::guitest
