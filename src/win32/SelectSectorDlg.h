// The sector range dialog of the physical dump (template 141): first and
// last sector, 1-based, both within 1..N, the first not after the last;
// under them the LBAs they mean, and the option of a resumable rescue image.
#pragma once

#include <cstdint>

#include "Dialog.h"
#include "app/Host.h"

namespace kestrow::win32 {

class CSelectSectorDlg : public Dialog {
 public:
  CSelectSectorDlg(app::Host& host, std::uint32_t maxSector);

  std::uint32_t m_nStartSector = 1;
  std::uint32_t m_nEndSector;
  std::uint32_t m_nMaxSector;
  bool m_bRescue = false;  // "Resumable rescue image (with a map)", off by default

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code) override;

 private:
  // Reads and checks the edits into the members; a failed check has told
  // the user and moved the focus to the edit in question, its text selected.
  bool SaveAndValidate();
  void ShowLbas();

  app::Host& m_host;
};

}  // namespace kestrow::win32
