// The window shown after a job that went on past damage, or after Find
// Damage (template 150): every damaged and lost file with what it lost in an
// owner-data report view (fast at any number of rows), the sectors that
// could not be read, and "Save Report..." for the same report as JSON. It
// is resizable, the list growing with it.
#pragma once

#include <string>
#include <vector>

#include "Anchors.h"
#include "Dialog.h"
#include "app/DamageText.h"
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
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  // The width a column needs for its title and every row's text.
  int FittingWidth(const char* title, std::string app::DamageRow::*cell) const;
  void FillItem(void* displayInfo);

  app::Host& m_host;
  DamageReport m_report;
  std::vector<std::string> m_sourceFiles;
  std::vector<app::DamageRow> m_rows;
  std::wstring m_cellText;  // the last cell handed to the list view
  Anchors m_anchors;
};

}  // namespace kestrow::win32
