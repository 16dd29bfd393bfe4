// The window shown after a job that went on past damage (template 150):
// every damaged and lost file with what it lost, the sectors that could not
// be read, and "Save Report..." for the same report as JSON.
#pragma once

#include <string>
#include <vector>

#include "Dialog.h"
#include "app/Host.h"
#include "recovery/DamageReport.h"

namespace kestrow::win32 {

class CDamageReportDlg : public Dialog {
 public:
  // `sourceFiles`: the files the disc is read from, which the report may not replace.
  CDamageReportDlg(app::Host& host, DamageReport report, std::vector<std::string> sourceFiles = {});

  const DamageReport& Report() const { return m_report; }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code) override;

 private:
  app::Host& m_host;
  DamageReport m_report;
  std::vector<std::string> m_sourceFiles;
};

}  // namespace kestrow::win32
