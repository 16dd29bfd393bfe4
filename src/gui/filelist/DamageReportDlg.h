// The window shown after a salvage: every damaged and lost file with what it
// lost, the sectors that could not be read, and "Save Report..." for the
// same report as JSON.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

#include "recovery/DamageReport.h"

class QTreeWidget;

namespace kestrow::gui {

class CDamageReportDlg : public QDialog {
  Q_OBJECT

 public:
  // `sourceFiles`: the files the disc is read from, which the report may not replace.
  explicit CDamageReportDlg(DamageReport report, QWidget* parent = nullptr, std::vector<std::string> sourceFiles = {});

  QTreeWidget* FileList() const { return m_files; }
  const DamageReport& Report() const { return m_report; }

 public slots:
  void OnSaveReport();

 private:
  DamageReport m_report;
  std::vector<std::string> m_sourceFiles;
  QTreeWidget* m_files = nullptr;
};

}  // namespace kestrow::gui
