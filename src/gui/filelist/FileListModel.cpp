#include "filelist/FileListModel.h"

#include <algorithm>
#include <climits>

#include "app/GuiText.h"
#include "filelist/FileListExport.h"

namespace kestrow::gui {

FileListModel::FileListModel(const FileTable* files, QObject* parent)
    : QAbstractTableModel(parent), m_files(files) {}

void FileListModel::SetCodePage(CodePage codePage) {
  if (codePage == m_codePage) return;
  m_codePage = codePage;
  if (rowCount() > 0) emit dataChanged(index(0, kPathColumn), index(rowCount() - 1, kPathColumn), {Qt::DisplayRole});
}

int FileListModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !m_files) return 0;
  return static_cast<int>(std::min<std::size_t>(m_files->size(), INT_MAX));
}

int FileListModel::columnCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return m_showDamage ? kDamageColumn + 1 : kDamageColumn;
}

void FileListModel::SetDamage(std::vector<QString> damage) {
  // The rows and the selection stay as they are.
  if (!m_showDamage) {
    beginInsertColumns(QModelIndex(), kDamageColumn, kDamageColumn);
    m_damage = std::move(damage);
    m_showDamage = true;
    endInsertColumns();
  } else {
    m_damage = std::move(damage);
    if (rowCount() > 0) emit dataChanged(index(0, kDamageColumn), index(rowCount() - 1, kDamageColumn));
  }
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) return {};
  const FileEntry& entry = (*m_files)[static_cast<std::size_t>(index.row())];
  switch (index.column()) {
    case kPathColumn:
      return text::FromDiscBytes(FileListPathText(entry), m_codePage);
    case kSizeColumn:
      return QString::fromStdString(FileListSizeText(entry));
    case kDamageColumn:
      return static_cast<std::size_t>(index.row()) < m_damage.size() ? m_damage[static_cast<std::size_t>(index.row())]
                                                                      : QString();
    default:
      return {};
  }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case kPathColumn:
      return QStringLiteral("File Path");
    case kSizeColumn:
      return QStringLiteral("Approx File Size");
    case kDamageColumn:
      return QStringLiteral("Damage");
    default:
      return {};
  }
}

}  // namespace kestrow::gui
