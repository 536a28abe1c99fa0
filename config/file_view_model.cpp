#include "config/file_view_model.h"

namespace qrv {

FileViewTableModel::FileViewTableModel(const FileViewGrid& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid), shownRevision_(grid.revision()) {}

int FileViewTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : grid_.RowCount() - 1;
}

int FileViewTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kGridColumns - 1;
}

QVariant FileViewTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole) return {};
    const std::string text = grid_.Cell(index.column() + 1, index.row() + 1);
    if (text.empty()) return {};
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QVariant FileViewTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole) return {};
    const std::string text =
        orientation == Qt::Horizontal ? grid_.Cell(section + 1, 0) : grid_.Cell(0, section + 1);
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

Qt::ItemFlags FileViewTableModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void FileViewTableModel::Refresh() {
    if (grid_.revision() == shownRevision_) return;
    beginResetModel();
    shownRevision_ = grid_.revision();
    endResetModel();
}

}  // namespace qrv
