#include "app/grid_model.h"

namespace volmar {

namespace {

// The machine's texts are 8-bit.
QString Latin1(const std::string& Text) {
    return QString::fromLatin1(Text.data(), static_cast<qsizetype>(Text.size()));
}

} // namespace

TGridModel::TGridModel(TStringGrid& Grid, QObject* Parent)
    : QAbstractTableModel(Parent), FGrid(Grid), FRowCount(Grid.RowCount()),
      FTitleRows(Grid.FixedRows() > 0 ? 1 : 0) {
    FGrid.SetObserver(this);
}

TGridModel::~TGridModel() { FGrid.SetObserver(nullptr); }

int TGridModel::rowCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : FRowCount - FTitleRows;
}

int TGridModel::columnCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : FGrid.ColCount();
}

QVariant TGridModel::TitleData(int Col, int Role) const {
    // The designed widths cut some titles; the tooltip shows them whole.
    if (Role == Qt::DisplayRole || Role == Qt::ToolTipRole) return Latin1(FGrid.Cell(Col, 0));
    return {};
}

QVariant TGridModel::data(const QModelIndex& Index, int Role) const {
    if (!Index.isValid()) return {};
    const int row = Index.row() + FTitleRows;
    if (row == 0) return TitleData(Index.column(), Role);
    if (Role == Qt::DisplayRole) return Latin1(FGrid.Cell(Index.column(), row));
    return {};
}

QVariant TGridModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
    if (Orientation == Qt::Horizontal && FTitleRows > 0) return TitleData(Section, Role);
    return QAbstractTableModel::headerData(Section, Orientation, Role);
}

void TGridModel::RowsInserted(int First, int Last) {
    beginInsertRows(QModelIndex(), First - FTitleRows, Last - FTitleRows);
    FRowCount = FGrid.RowCount();
    endInsertRows();
}

void TGridModel::RowsRemoved(int First, int Last) {
    if (First < FTitleRows) {
        // The title row itself went: the rows below have moved up under it.
        beginResetModel();
        FRowCount = FGrid.RowCount();
        endResetModel();
        emit headerDataChanged(Qt::Horizontal, 0, FGrid.ColCount() - 1);
        return;
    }
    beginRemoveRows(QModelIndex(), First - FTitleRows, Last - FTitleRows);
    FRowCount = FGrid.RowCount();
    endRemoveRows();
}

void TGridModel::CellChanged(int Col, int Row) {
    if (Row < FTitleRows) {
        emit headerDataChanged(Qt::Horizontal, Col, Col);
        return;
    }
    const QModelIndex cell = index(Row - FTitleRows, Col);
    emit dataChanged(cell, cell);
}

void TGridModel::FixedRowsChanged(int FixedRows) {
    const int titleRows = FixedRows > 0 ? 1 : 0;
    if (titleRows == FTitleRows) return;
    if (titleRows > FTitleRows) {
        beginRemoveRows(QModelIndex(), 0, 0);
        FTitleRows = titleRows;
        endRemoveRows();
    } else {
        beginInsertRows(QModelIndex(), 0, 0);
        FTitleRows = titleRows;
        endInsertRows();
    }
    emit headerDataChanged(Qt::Horizontal, 0, FGrid.ColCount() - 1);
    emit TitleHeaderChanged(FTitleRows > 0);
}

} // namespace volmar
