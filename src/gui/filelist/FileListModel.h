// The file list session's rows for the list view: row i is entry i of the
// table, in catalogue order, with its path and name and the size of both
// forks; after a damage scan a third column says which files the unreadable
// sectors hit. The session owns the data.
#pragma once

#include <QAbstractTableModel>

namespace kestrow::app {
class FileListSession;
}

namespace kestrow::gui {

class FileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kPathColumn = 0, kSizeColumn = 1, kDamageColumn = 2 };

  explicit FileListModel(const app::FileListSession& session, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // The session's texts changed; `columnAdded` when its damage column appeared.
  void Refresh(bool columnAdded);
  bool HasDamageColumn() const { return m_showDamage; }

 private:
  const app::FileListSession& m_session;
  bool m_showDamage = false;
};

}  // namespace kestrow::gui
