#include "AppTestSupport.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

#include "FaultInjectingTransport.h"
#include "KestrowCore.h"
#include "MemoryTransport.h"
#include "TestDisc.h"
#include "drive/ScsiCommands.h"
#include "platform/FileSystem.h"
#include "text/ByteReader.h"
#include "volume/PackedFormat.h"

namespace kestrow::apptest {

// ---- RecordingHost

bool MemorySettings::GetBool(const std::string& key, bool fallback) {
  const auto found = values.find(key);
  return found == values.end() ? fallback : found->second;
}

bool RecordingHost::AskYesNo(const std::string& text) {
  questions.push_back(text);
  return yesAnswer;
}

std::optional<std::string> RecordingHost::ChooseSaveFile(const std::string& initialName, const std::string& extension) {
  saveRequests.push_back(initialName + "." + extension);
  return saveAnswer;
}

std::optional<std::string> RecordingHost::ChooseOpenFile(const std::string&, const std::vector<app::FileFilter>&) {
  return openAnswer;
}

std::optional<std::string> RecordingHost::BrowseForFolder(const std::string& title) {
  folderRequests.push_back(title);
  return folderAnswer;
}

std::optional<app::SectorRange> RecordingHost::ChooseSectorRange(std::uint32_t sectorCount) {
  rangeRequests.push_back("1-" + std::to_string(sectorCount));
  return rangeAnswer;
}

namespace {

class RecordingProgress : public app::ProgressWindow {
 public:
  explicit RecordingProgress(RecordingHost& host) : m_host(host) { m_host.progressOpen = true; }
  ~RecordingProgress() override { m_host.progressOpen = false; }
  void ShowProgress(const std::string& text, int, int) override { m_host.progressTexts.push_back(text); }
  void ShowRescueStatus(const std::string& text) override { m_host.rescueStatusTexts.push_back(text); }
  bool CancelRequested() override { return m_host.cancelAfterPolls >= 0 && ++m_polls > m_host.cancelAfterPolls; }

 private:
  RecordingHost& m_host;
  int m_polls = 0;
};

}  // namespace

std::unique_ptr<app::ProgressWindow> RecordingHost::OpenProgressWindow() {
  return std::make_unique<RecordingProgress>(*this);
}

void RecordingHost::RunFileList(app::FileListSession& session) {
  ++fileLists;
  if (onFileList) onFileList(session);
}

void RecordingHost::ShowDamageReport(const DamageReport& report, const std::vector<std::string>& /*sourceFiles*/) {
  damageReports.push_back(report);
  if (onDamageReport) onDamageReport(report);
}

std::vector<std::string> RecordingHost::Texts() const {
  std::vector<std::string> texts;
  for (const ShownMessage& m : messages) texts.push_back(m.text);
  return texts;
}

int RecordingHost::Count(const std::string& text) const {
  int count = 0;
  for (const ShownMessage& m : messages) count += m.text == text ? 1 : 0;
  return count;
}

bool RunTimer(app::FileListSession& session, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (session.TimerActive()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    session.OnTimer();
  }
  return true;
}

// ---- ScratchFolder

ScratchFolder::ScratchFolder() {
  std::random_device random;
  for (;;) {
    m_path = std::filesystem::temp_directory_path() / ("kestrow-app-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(m_path)) break;
  }
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::string ScratchFolder::Path(const std::string& relative) const {
  return Utf8FromPath(relative.empty() ? m_path : (m_path / PathFromUtf8(relative)).make_preferred());
}

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

app::CoreFactory DiscShelf::Factory() const {
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

std::vector<DiscFile> NumberedFiles(int count) {
  std::vector<DiscFile> files;
  for (int i = 0; i < count; ++i) {
    DiscFile file{i % 2 ? "Docs" : "", "File " + std::to_string(i), {}};
    file.data.resize(static_cast<std::size_t>(3000 + 7000 * (i % 4)));
    for (std::size_t k = 0; k < file.data.size(); ++k) file.data[k] = static_cast<std::uint8_t>((k * 7 + i * 13) % 251);
    files.push_back(std::move(file));
  }
  return files;
}

FileEntry Row(const std::string& path, const std::string& name, std::uint32_t data, std::uint32_t rsrc) {
  FileEntry entry;
  entry.path = path;
  entry.name = name;
  entry.dataLogicalLength = data;
  entry.rsrcLogicalLength = rsrc;
  return entry;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::FILE* file = OpenFile(path, "rb");
  if (!file) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  std::fclose(file);
  return bytes;
}

DamageReport ManyDamagedFiles(int count) {
  DamageReport report;
  for (int k = 0; k < count; ++k) {
    ReportedFile file;
    file.path = "Disk:Folder:File " + std::to_string(k);
    file.status = k % 2 ? FileStatus::kDamaged : FileStatus::kLost;
    file.size = 100000;
    if (k % 2) file.lostRanges = {{0, 8192}, {16384, 24576 + static_cast<std::uint64_t>(k)}};
    report.files.push_back(file);
    report.unreadableSectors.push_back({1000 + 3 * k, 1000 + 3 * k});
  }
  return report;
}

}  // namespace kestrow::apptest
