#include "app/grid_model.h"

#include <QApplication>
#include <QFont>
#include <QPalette>

namespace volmar {

TGridModel::TGridModel(TStringGrid& Grid, QObject* Parent) : QAbstractTableModel(Parent), FGrid(Grid), FRowCount(Grid.RowCount()) {
    FGrid.SetObserver(this);
}

TGridModel::~TGridModel() { FGrid.SetObserver(nullptr); }

int TGridModel::rowCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : FRowCount;
}

int TGridModel::columnCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : FGrid.ColCount();
}

QVariant TGridModel::data(const QModelIndex& Index, int Role) const {
    if (!Index.isValid()) return {};
    const bool fixed = Index.row() < FGrid.FixedRows();
    switch (Role) {
    case Qt::DisplayRole: {
        // The machine's texts are 8-bit.
        const std::string& text = FGrid.Cell(Index.column(), Index.row());
        return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    }
    case Qt::BackgroundRole:
        if (fixed) return QApplication::palette().button();
        return {};
    case Qt::FontRole:
        if (fixed) {
            QFont font;
            font.setBold(true);
            return font;
        }
        return {};
    default: return {};
    }
}

void TGridModel::RowsInserted(int First, int Last) {
    beginInsertRows(QModelIndex(), First, Last);
    FRowCount = FGrid.RowCount();
    endInsertRows();
}

void TGridModel::RowsRemoved(int First, int Last) {
    beginRemoveRows(QModelIndex(), First, Last);
    FRowCount = FGrid.RowCount();
    endRemoveRows();
}

void TGridModel::CellChanged(int Col, int Row) {
    const QModelIndex cell = index(Row, Col);
    emit dataChanged(cell, cell);
}

void TGridModel::FixedRowsChanged(int) {
    if (FRowCount > 0) emit dataChanged(index(0, 0), index(FRowCount - 1, FGrid.ColCount() - 1));
}

} // namespace volmar
