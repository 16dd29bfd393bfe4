// The application layer's host in the Qt face: messages and file dialogs
// through UiHost, the modal windows as the Qt dialogs, settings in QSettings.
// It keeps no state: the window in front owns what it shows.
#pragma once

#include <QString>

#include <string>
#include <vector>

#include "app/Host.h"

class QWidget;

namespace kestrow::gui {

// UTF-8 text of the application layer as Qt text, and back.
inline QString ToQt(const std::string& text) { return QString::fromStdString(text); }
inline std::string FromQt(const QString& text) { return text.toStdString(); }
// A path as the file system's bytes, and back.
std::string PathFromQt(const QString& path);
QString PathToQt(const std::string& path);
// "Disc images (*.bin *.iso);;All files (*)".
QString QtFilter(const std::vector<app::FileFilter>& filters);

// The user's settings, as QSettings keeps them for KestrowDiag.
class QtSettingsStore : public app::SettingsStore {
 public:
  bool GetBool(const std::string& key, bool fallback) override;
  void SetBool(const std::string& key, bool value) override;
};

class QtHost : public app::Host {
 public:
  void ShowMessage(const std::string& text, app::MessageStyle style) override;
  bool AskYesNo(const std::string& text) override;
  std::optional<std::string> ChooseSaveFile(const std::string& initialName,
                                             const std::string& defaultExtension) override;
  std::optional<std::string> ChooseOpenFile(const std::string& title,
                                             const std::vector<app::FileFilter>& filters) override;
  std::optional<std::string> BrowseForFolder(const std::string& title) override;
  std::optional<app::SectorRange> ChooseSectorRange(std::uint32_t sectorCount) override;
  std::unique_ptr<app::ProgressWindow> OpenProgressWindow() override;
  void RunFileList(app::FileListSession& session) override;
  void ShowDamageReport(const DamageReport& report, const std::vector<std::string>& sourceFiles) override;
  void ShowAboutBox() override;
  void SetBusy(bool busy) override;
  app::SettingsStore& Settings() override { return m_settings; }

  // The window in front: the active modal dialog, else the active window.
  static QWidget* Owner();

 private:
  QtSettingsStore m_settings;
};

}  // namespace kestrow::gui
