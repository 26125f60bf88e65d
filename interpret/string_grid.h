// A grid of text cells as the program's log tables hold them; the window
// shows it through an observer.
#pragma once

#include <string>
#include <vector>

namespace volmar {

class IGridObserver {
public:
    virtual ~IGridObserver() = default;
    virtual void RowsInserted(int First, int Last) = 0;
    virtual void RowsRemoved(int First, int Last) = 0;
    virtual void CellChanged(int Col, int Row) = 0;
    virtual void FixedRowsChanged(int FixedRows) = 0;
};

class TStringGrid {
public:
    TStringGrid(int ColCount, int RowCount);

    int ColCount() const { return FColCount; }
    int RowCount() const { return static_cast<int>(FRows.size()); }
    void SetRowCount(int Count);
    int FixedRows() const { return FFixedRows; }
    void SetFixedRows(int Count);

    // Cells outside the grid read empty and ignore writes.
    const std::string& Cell(int Col, int Row) const;
    void SetCell(int Col, int Row, std::string Text);
    // Moves the rows below up over the Count rows from First.
    void DeleteRows(int First, int Count);

    void SetObserver(IGridObserver* Observer) { FObserver = Observer; }

private:
    int FColCount;
    int FFixedRows = 0;
    std::vector<std::vector<std::string>> FRows;
    IGridObserver* FObserver = nullptr;
};

// Makes room for one new entry at the bottom of a log grid of at most Limit
// rows (the title row included), dropping the oldest entry when full; the
// caller writes the entry into the last row.
void AddGridRow(TStringGrid& Grid, int Limit);

void DeleteGridRows(TStringGrid& Grid, int First, int Count);

} // namespace volmar
