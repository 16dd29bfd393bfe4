// The file list dialog (template 133): the session's rows in an owner-data
// report view (the rows are asked for as they are drawn, so a disc of any
// size opens at once), the options, and the session's commands, with the
// job's timer (id 1234, 200 ms).
#pragma once

#include "Anchors.h"
#include "Dialog.h"
#include "app/FileListSession.h"

namespace kestrow::win32 {

class CFileListDlg : public Dialog, public app::FileListView {
 public:
  explicit CFileListDlg(app::FileListSession& session);
  ~CFileListDlg() override;

  app::FileListSession& Session() { return m_session; }

  // app::FileListView
  std::vector<int> SelectedRows() const override;
  void ShowJobStatus(const std::string& text) override;
  void ShowProgress(bool shown, int permille) override;
  void StartTimer() override;
  void StopTimer() override;
  void EnableJobCommands(bool enabled) override;
  void RowsChanged(bool columnAdded) override;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code) override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void InsertColumn(int index, const char* title, int width);
  int ListClientWidth() const;
  // The row texts the list view asks for.
  void FillItem(void* displayInfo);
  void Close(int result);
  // The path column takes what the others leave of the list's width.
  void SizePathColumn();
  int DamageColumnWidth() const;

  app::FileListSession& m_session;
  std::wstring m_cellText;  // the last cell handed to the list view
  int m_sizeColumnWidth = 100;
  bool m_damageColumn = false;
  Anchors m_anchors;
};

}  // namespace kestrow::win32
