// The destination folder browser of a recovery job. It is not shown as a
// window of its own: BrowseForFolder runs the folder browser modally over its
// parent and keeps the chosen path.
#pragma once

#include <QString>

class QWidget;

namespace kestrow::gui {

class CFolderSelectDlg {
 public:
  CFolderSelectDlg(QWidget* parent, QString title);

  // 1 when a folder was chosen (m_strPath holds it), 2 when the browser was
  // cancelled. `csidlRoot` is kept for the callers' sake; 0 starts the
  // browser at its usual place.
  int BrowseForFolder(int csidlRoot);

  QWidget* m_pParent;
  QString m_strDisplayName;  // the chosen folder's own name
  QString m_strPath;         // its full path; empty when nothing was chosen
  QString m_strTitle;
};

}  // namespace kestrow::gui
