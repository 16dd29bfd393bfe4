// The file table as the rows of the file list: row i is entry i of the
// table, in catalogue order, with its path and name and the size of both
// forks. The table belongs to the command that read it. After a damage scan
// a third column says which files the unreadable sectors hit.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <vector>

#include "text/CodePage.h"
#include "volume/FileEntry.h"

namespace kestrow::gui {

class FileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kPathColumn = 0, kSizeColumn = 1, kDamageColumn = 2 };

  explicit FileListModel(const FileTable* files, QObject* parent = nullptr);

  // How the names are read; the path column changes at once.
  void SetCodePage(CodePage codePage);
  CodePage GetCodePage() const { return m_codePage; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // Shows the damage column: one text per row ("damaged", "lost" or empty).
  void SetDamage(std::vector<QString> damage);
  bool HasDamageColumn() const { return m_showDamage; }

 private:
  const FileTable* m_files;
  CodePage m_codePage = CodePage::kWindows1252;
  std::vector<QString> m_damage;
  bool m_showDamage = false;
};

}  // namespace kestrow::gui
