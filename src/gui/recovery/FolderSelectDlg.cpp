#include "recovery/FolderSelectDlg.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QWidget>

#include <optional>

#include "app/UiHost.h"

namespace kestrow::gui {

CFolderSelectDlg::CFolderSelectDlg(QWidget* parent, QString title)
    : m_pParent(parent), m_strTitle(std::move(title)) {}

int CFolderSelectDlg::BrowseForFolder(int /*csidlRoot*/) {
  // The control that had the focus gets it back afterwards.
  const QPointer<QWidget> focus = QApplication::focusWidget();
  const std::optional<QString> folder = UiHost::Current().GetExistingDirectory(m_pParent, m_strTitle);
  if (focus) focus->setFocus();
  if (!folder) {
    m_strDisplayName.clear();
    m_strPath.clear();
    return 2;
  }
  m_strPath = QDir::cleanPath(*folder);
  m_strDisplayName = QFileInfo(m_strPath).fileName();
  return 1;
}

}  // namespace kestrow::gui
