#include "interpret/string_grid.h"

#include <algorithm>

namespace volmar {

TStringGrid::TStringGrid(int ColCount, int RowCount) : FColCount(std::max(ColCount, 1)) {
    SetRowCount(RowCount);
}

void TStringGrid::SetRowCount(int Count) {
    Count = std::max(Count, 1);
    const int old = RowCount();
    if (Count == old) return;
    if (Count < old) {
        FRows.resize(static_cast<std::size_t>(Count));
        if (FObserver) FObserver->RowsRemoved(Count, old - 1);
    } else {
        FRows.resize(static_cast<std::size_t>(Count),
                     std::vector<std::string>(static_cast<std::size_t>(FColCount)));
        if (FObserver) FObserver->RowsInserted(old, Count - 1);
    }
    if (FFixedRows >= Count) SetFixedRows(Count - 1);
}

void TStringGrid::SetFixedRows(int Count) {
    Count = std::clamp(Count, 0, RowCount() - 1);
    if (Count == FFixedRows) return;
    FFixedRows = Count;
    if (FObserver) FObserver->FixedRowsChanged(Count);
}

const std::string& TStringGrid::Cell(int Col, int Row) const {
    static const std::string empty;
    if (Col < 0 || Col >= FColCount || Row < 0 || Row >= RowCount()) return empty;
    return FRows[static_cast<std::size_t>(Row)][static_cast<std::size_t>(Col)];
}

void TStringGrid::SetCell(int Col, int Row, std::string Text) {
    if (Col < 0 || Col >= FColCount || Row < 0 || Row >= RowCount()) return;
    FRows[static_cast<std::size_t>(Row)][static_cast<std::size_t>(Col)] = std::move(Text);
    if (FObserver) FObserver->CellChanged(Col, Row);
}

void TStringGrid::DeleteRows(int First, int Count) {
    First = std::max(First, 0);
    Count = std::min(Count, RowCount() - First);
    if (Count <= 0 || RowCount() - Count < 1) return;
    FRows.erase(FRows.begin() + First, FRows.begin() + First + Count);
    if (FObserver) FObserver->RowsRemoved(First, First + Count - 1);
    if (FFixedRows >= RowCount()) SetFixedRows(RowCount() - 1);
}

void AddGridRow(TStringGrid& Grid, int Limit) {
    if (Grid.RowCount() >= Limit) DeleteGridRows(Grid, 1, 1);
    Grid.SetRowCount(Grid.RowCount() + 1);
    if (Grid.RowCount() > 1) Grid.SetFixedRows(1);
}

void DeleteGridRows(TStringGrid& Grid, int First, int Count) { Grid.DeleteRows(First, Count); }

} // namespace volmar
