#include "GuiTestSupport.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cstring>

#include "TestDisc.h"
#include "FaultInjectingTransport.h"
#include "KestrowCore.h"
#include "MemoryTransport.h"
#include "drive/ScsiCommands.h"
#include "text/ByteReader.h"
#include "volume/PackedFormat.h"

namespace kestrow::guitest {

// ---- RecordingHost

namespace {

// The tests keep their settings in a scratch folder of their own, never in
// the user's; a test that changes them puts them back.
void UseScratchSettings() {
  static QTemporaryDir folder;
  static const bool set = [] {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    return true;
  }();
  (void)set;
}

}  // namespace

RecordingHost::RecordingHost() : m_previous(gui::UiHost::Install(this)) { UseScratchSettings(); }

RecordingHost::~RecordingHost() { gui::UiHost::Install(m_previous); }

void RecordingHost::ShowMessage(QWidget*, const QString& text, gui::MessageStyle style) {
  messages.push_back({text, style});
}

bool RecordingHost::AskYesNo(QWidget*, const QString& text) {
  questions << text;
  return yesAnswer;
}

std::optional<QString> RecordingHost::GetSaveFileName(QWidget*, const QString& initialName,
                                                      const QString& defaultSuffix) {
  saveRequests << initialName + QLatin1Char('.') + defaultSuffix;
  return saveAnswer;
}

std::optional<QString> RecordingHost::GetOpenFileName(QWidget*, const QString&, const QString&) {
  return openAnswer;
}

std::optional<QString> RecordingHost::GetExistingDirectory(QWidget*, const QString& title) {
  folderRequests << title;
  return folderAnswer;
}

int RecordingHost::RunModal(QDialog& dialog) {
  modalDialogs << QString::fromLatin1(dialog.metaObject()->className());
  return onModal ? onModal(dialog) : QDialog::Rejected;
}

QStringList RecordingHost::Texts() const {
  QStringList texts;
  for (const ShownMessage& m : messages) texts << m.text;
  return texts;
}

int RecordingHost::Count(const char* text) const { return static_cast<int>(Texts().count(QString::fromUtf8(text))); }

// ---- ScriptedTransport

ScriptedTransport::ScriptedTransport(std::unique_ptr<Transport> inner, std::shared_ptr<DiscScript> script)
    : m_inner(std::move(inner)), m_script(std::move(script)) {}

bool ScriptedTransport::Open() {
  const int opened = ++m_script->opens;
  const int allowed = m_script->opensAllowed;
  if (allowed >= 0 && opened > allowed) return false;
  return m_inner->Open();
}

CommandResult ScriptedTransport::Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                                         unsigned timeoutSeconds) {
  if (!cdb.empty() && cdb[0] == scsi::kOpReadCd12 && cdb.size() >= 9 && m_script->beforeRead) {
    // A READ CD of several sectors passes each of them to the script.
    const std::uint32_t lba = *ByteReader(cdb).be32(2);
    const std::uint32_t count = *ByteReader(cdb).be24(6);
    for (std::uint32_t i = 0; i < count; ++i) {
      if (m_script->beforeRead(lba + i)) return CommandResult{};
    }
  }
  return m_inner->Execute(cdb, dataIn, timeoutSeconds);
}

// ---- DiscShelf

std::shared_ptr<DiscScript> DiscShelf::Put(const std::string& source, std::vector<std::uint8_t> userData) {
  auto script = std::make_shared<DiscScript>();
  (*m_discs)[source] = Disc{std::make_shared<const std::vector<std::uint8_t>>(std::move(userData)), script};
  return script;
}

gui::CoreFactory DiscShelf::Factory() const {
  return [discs = m_discs](const std::string& source) -> std::unique_ptr<CKestrowCore> {
    const auto found = discs->find(source);
    const bool known = found != discs->end();
    auto faults = std::make_unique<FaultInjectingTransport>(
        std::make_unique<MemoryTransport>(known ? *found->second.userData : std::vector<std::uint8_t>{}));
    if (!known) {
      faults->FailOpen();  // like an empty drive
      return std::make_unique<ObservableCore>(std::move(faults));
    }
    for (const std::uint32_t lba : found->second.script->badLbas) faults->FailReadAt(lba);
    return std::make_unique<ObservableCore>(
        std::make_unique<ScriptedTransport>(std::move(faults), found->second.script));
  };
}

std::vector<std::uint8_t> DiscShelf::RawSector(const std::string& source, std::int32_t lba) const {
  CKestrowCore core(std::make_unique<MemoryTransport>(*m_discs->at(source).userData));
  std::vector<std::uint8_t> raw(format::kRawSectorSize);
  core.OpenDevice();
  const std::int32_t read = core.ReadRawSector(lba, raw.data());
  core.CloseDevice();
  raw.resize(read > 0 ? static_cast<std::size_t>(read) : 0);
  return raw;
}

// ---- ReadGate

void ReadGate::PassOrWait() {
  std::unique_lock<std::mutex> lock(m_lock);
  if (!m_closed) return;
  m_waiting = true;
  m_changed.wait(lock, [this] { return !m_closed; });
  m_waiting = false;
}

void ReadGate::Close() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_closed = true;
}

void ReadGate::Open() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_closed = false;
  }
  m_changed.notify_all();
}

// ---- Discs

std::vector<std::uint8_t> PlainDisc(std::uint32_t sectors, const std::string& signature) {
  std::vector<std::uint8_t> disc(std::size_t{sectors} * format::kUserDataSize, 0);
  for (std::size_t i = 0; i < disc.size(); i += 97) disc[i] = static_cast<std::uint8_t>(i / 97);
  if (!signature.empty() && sectors > 0) {
    std::memcpy(disc.data() + (std::size_t{sectors} - 1) * format::kUserDataSize, signature.data(),
                signature.size());
  }
  return disc;
}

namespace {

std::vector<std::uint8_t> DiscAround(const std::vector<std::uint8_t>& area) {
  constexpr std::uint32_t kVolumeStart = 8;  // 512-byte units: sector 2
  const auto units = static_cast<std::uint32_t>((area.size() + format::kUnitSize - 1) / format::kUnitSize);
  const std::uint32_t volumeEnd = kVolumeStart + units;
  const auto sectors = static_cast<std::uint32_t>(volumeEnd / format::kUnitsPerSector + 2);
  return test::MakeDiscUserData(sectors, kVolumeStart, volumeEnd, area);
}

}  // namespace

std::vector<std::uint8_t> BrowsableDisc() {
  using test::DirectoryData;
  using test::FileData;
  test::NodeBuilder dirs;
  dirs.AddRecord(14, 11, 1, "Disk", DirectoryData(2));
  dirs.AddRecord(100, 11, 2, "Docs", DirectoryData(16));
  test::NodeBuilder files;
  files.AddRecord(14, 37, 16, "Letter", FileData({.fileId = 20, .dataLength = 1000, .rsrcLength = 300}));
  files.AddRecord(160, 37, 2, "Read Me", FileData({.fileId = 21}));
  files.AddRecord(320, 37, 2, "Caf\xE9", FileData({.fileId = 22, .dataLength = 5}));
  return DiscAround(test::MakeVolumeImage({dirs.bytes(), files.bytes()}));
}

std::vector<std::uint8_t> DiscWithoutMdb() {
  std::vector<std::uint8_t> area = test::MakeVolumeImage({});
  area[format::kMdbOffset] = 0;
  area[format::kMdbOffset + 1] = 0;
  return DiscAround(area);
}

FileEntry Row(const std::string& path, const std::string& name, std::uint32_t data, std::uint32_t rsrc) {
  FileEntry entry;
  entry.path = path;
  entry.name = name;
  entry.dataLogicalLength = data;
  entry.rsrcLogicalLength = rsrc;
  return entry;
}

std::optional<std::string> ReadWholeFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  return file.readAll().toStdString();
}

}  // namespace kestrow::guitest
