#include "app/grid_model.h"

#include <algorithm>

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
    // A column narrowed by the operator cuts its title; the tooltip shows it whole.
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

void TGridModel::Flush() {
    FFlushSoon.Ran();
    for (const TRowChange& change : FRowChanges) {
        const int count = change.Last - change.First + 1;
        if (change.Inserted) {
            beginInsertRows(QModelIndex(), change.First - FTitleRows, change.Last - FTitleRows);
            FRowCount += count;
            endInsertRows();
        } else {
            beginRemoveRows(QModelIndex(), change.First - FTitleRows, change.Last - FTitleRows);
            FRowCount -= count;
            endRemoveRows();
        }
    }
    FRowChanges.clear();
    const int rows = rowCount();
    if (FAllChanged && rows > 0) {
        emit dataChanged(index(0, 0), index(rows - 1, FGrid.ColCount() - 1));
    } else if (!FChangedCells.isEmpty()) {
        const int top = std::max(FChangedCells.top() - FTitleRows, 0);
        const int bottom = std::min(FChangedCells.bottom() - FTitleRows, rows - 1);
        if (top <= bottom)
            emit dataChanged(index(top, FChangedCells.left()), index(bottom, FChangedCells.right()));
    }
    FAllChanged = false;
    FChangedCells = QRect();
    if (FTitlesChanged) emit headerDataChanged(Qt::Horizontal, 0, FGrid.ColCount() - 1);
    FTitlesChanged = false;
}

// A full log drops its oldest row for each new one: the rows dropped at the
// top and the rows added at the bottom are told as one change each, however
// many messages came meanwhile.
void TGridModel::AddRowChange(TRowChange Change) {
    const int count = Change.Last - Change.First + 1;
    if (!FRowChanges.empty()) {
        TRowChange& last = FRowChanges.back();
        if (!Change.Inserted && last.Inserted && Change.Last < last.First) {
            // Removed above the rows inserted last: removed before them.
            TRowChange inserted = last;
            FRowChanges.pop_back();
            AddRowChange(Change);
            inserted.First -= count;
            inserted.Last -= count;
            AddRowChange(inserted);
            return;
        }
        if (!Change.Inserted && !last.Inserted && Change.First == last.First) {
            last.Last += count;
            return;
        }
        if (Change.Inserted && last.Inserted && Change.First == last.Last + 1) {
            last.Last = Change.Last;
            return;
        }
    }
    FRowChanges.push_back(Change);
}

void TGridModel::RowsInserted(int First, int Last) {
    FAllChanged = FAllChanged || !FChangedCells.isEmpty();
    AddRowChange({true, First, Last});
    FFlushSoon.Request();
}

void TGridModel::RowsRemoved(int First, int Last) {
    if (First < FTitleRows) {
        // The title row itself went: the rows below have moved up under it.
        Flush();
        beginResetModel();
        FRowCount = FGrid.RowCount();
        endResetModel();
        emit headerDataChanged(Qt::Horizontal, 0, FGrid.ColCount() - 1);
        return;
    }
    FAllChanged = FAllChanged || !FChangedCells.isEmpty();
    AddRowChange({false, First, Last});
    FFlushSoon.Request();
}

void TGridModel::CellChanged(int Col, int Row) {
    if (Row < FTitleRows)
        FTitlesChanged = true;
    else
        FChangedCells |= QRect(Col, Row, 1, 1);
    FFlushSoon.Request();
}

void TGridModel::FixedRowsChanged(int FixedRows) {
    const int titleRows = FixedRows > 0 ? 1 : 0;
    if (titleRows == FTitleRows) return;
    Flush();
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
