// The about box (template 100): the icon, the version, the maker's notice,
// and the maker's web and mail addresses in a read-only field.
#pragma once

#include "Dialog.h"

namespace kestrow::win32 {

class CAboutDlg : public Dialog {
 public:
  CAboutDlg();

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code) override;
};

}  // namespace kestrow::win32
