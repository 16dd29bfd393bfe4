#include "filelist/FileListModel.h"

#include <algorithm>
#include <climits>

#include "app/AppText.h"
#include "app/FileListSession.h"
#include "app/QtHost.h"

namespace kestrow::gui {

FileListModel::FileListModel(const app::FileListSession& session, QObject* parent)
    : QAbstractTableModel(parent), m_session(session), m_showDamage(session.HasDamageColumn()) {}

int FileListModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return static_cast<int>(std::min<std::size_t>(m_session.RowCount(), INT_MAX));
}

int FileListModel::columnCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return m_showDamage ? kDamageColumn + 1 : kDamageColumn;
}

void FileListModel::Refresh(bool columnAdded) {
  // The rows and the selection stay as they are.
  if (columnAdded && !m_showDamage) {
    beginInsertColumns(QModelIndex(), kDamageColumn, kDamageColumn);
    m_showDamage = true;
    endInsertColumns();
  }
  if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::DisplayRole});
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) return {};
  const auto row = static_cast<std::size_t>(index.row());
  switch (index.column()) {
    case kPathColumn:
      return ToQt(m_session.PathText(row));
    case kSizeColumn:
      return ToQt(m_session.SizeText(row));
    case kDamageColumn:
      return ToQt(m_session.DamageText(row));
    default:
      return {};
  }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case kPathColumn:
      return QString::fromLatin1(app::text::kPathColumn);
    case kSizeColumn:
      return QString::fromLatin1(app::text::kSizeColumn);
    case kDamageColumn:
      return QString::fromLatin1(app::text::kDamageColumn);
    default:
      return {};
  }
}

}  // namespace kestrow::gui
