// The grid "文件视窗" as a Qt table model over the session's FileViewGrid, so
// that thousands of rows cost no widget item per cell. Row 0 of the grid is the
// horizontal header and column 0 (the address) the vertical header: both stay
// fixed while the rows scroll.
#pragma once

#include <QAbstractTableModel>
#include <cstdint>

#include "config/file_view.h"

namespace qrv {

class FileViewTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    FileViewTableModel(const FileViewGrid& grid, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Re-reads the grid when it changed since the last call.
    void Refresh();

  private:
    const FileViewGrid& grid_;
    uint64_t shownRevision_ = 0;
};

}  // namespace qrv
